"""The built program headless against a simulated radio, for tests with real
clients. Runs itself again in private network and pty namespaces (root), so fixed
ports and /dev/pts/N collide with nothing; exits 77 (skipped) where it cannot."""
import os
import select
import subprocess
import sys
import tempfile
import time


def enter_namespaces():
    if os.environ.get("OVRIN_IN_NAMESPACE") == "1":
        return
    if os.geteuid() != 0 or subprocess.run(["unshare", "-n", "-m", "true"], capture_output=True).returncode:
        print("SKIPPED: private namespaces need root (unshare -n -m)")
        sys.exit(77)
    os.environ["OVRIN_IN_NAMESPACE"] = "1"
    setup = ("ip link set lo up; mount -t devpts -o newinstance,ptmxmode=0666 devpts /dev/pts; "
             "mount --bind /dev/pts/ptmx /dev/ptmx; mount -t tmpfs tmpfs /run/lock; exec \"$0\" \"$@\"")
    os.execvp("unshare", ["unshare", "-n", "-m", "--propagation", "private", "bash", "-c", setup,
                          sys.executable] + sys.argv)


# hamlib's models of the radios the simulator plays, by its --family.
MODELS = {"kenwood": "2014", "civ": "3073", "ft817": "1020"}


def fail(why, *logs):
    print("FAIL: " + why, file=sys.stderr)
    for path in logs:
        print("--- " + path, file=sys.stderr)
        with open(path, errors="replace") as f:
            print(f.read(), file=sys.stderr)
    sys.exit(1)


def wait_for(condition, seconds=10.0):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if condition():
            return True
        time.sleep(0.02)
    return condition()


def receive(s, want, seconds=3.0):
    """Reads from a socket until `want` bytes came, it closed, or the time is up."""
    got, end = b"", time.monotonic() + seconds
    while len(got) < want and select.select([s], [], [], max(0.0, end - time.monotonic()))[0]:
        chunk = s.recv(4096)
        if not chunk:
            break
        got += chunk
    return got


def read(path):
    try:
        with open(path, errors="replace") as f:
            return f.read()
    except FileNotFoundError:
        return ""


class Bench:
    """Radios and servers started in one temporary folder, ended on exit."""

    def __init__(self, server, radio, shim=None):
        self.server, self.radio, self.shim = server, radio, shim
        self.folder = tempfile.mkdtemp(prefix="ovrin-e2e-")
        self.children = []

    def path(self, name):
        return os.path.join(self.folder, name)

    def start_radio(self, name, *args):
        out = open(self.path(name + ".radio"), "w")
        child = subprocess.Popen([self.radio, *args], stdout=out, stderr=subprocess.DEVNULL)
        self.children.append(child)
        if not wait_for(lambda: read(self.path(name + ".radio")).startswith("/dev/")):
            fail("the radio simulator named no device")
        return read(self.path(name + ".radio")).splitlines()[0]

    def start_server(self, name, *args, ready="Listening on TCP"):
        """The program headless with its log in NAME.log and the shim's in NAME.lines."""
        env = dict(os.environ, OVRIN_MODEM_LOG=self.path(name + ".lines"))
        if self.shim:
            env["LD_PRELOAD"] = self.shim
        log = self.path(name + ".log")
        child = subprocess.Popen([self.server, "--headless", "--config-dir", self.path(name), *args],
                                 stderr=open(log, "w"), stdout=subprocess.DEVNULL, env=env)
        self.children.append(child)
        if not wait_for(lambda: ready in read(log)):
            fail("the server did not start", log)
        return log

    def rig_device(self, family, port, name):
        """What rigctl opens to reach the server on PORT: HOST:PORT, or, for the
        IC-7300 model (which hamlib 4.5 opens over UDP when given HOST:PORT), a
        pseudo-terminal that socat joins to the TCP port, as a program on a
        virtual COM port would have it."""
        if family != "civ":
            return f"127.0.0.1:{port}"
        link = self.path(name + ".pty")
        self.children.append(subprocess.Popen(["socat", f"pty,link={link},raw,echo=0", f"tcp:127.0.0.1:{port}"],
                                              stderr=subprocess.DEVNULL))
        if not wait_for(lambda: os.path.exists(link)):
            fail("socat made no pseudo-terminal")
        return link

    def close(self):
        for child in reversed(self.children):
            child.terminate()
        for child in self.children:
            try:
                child.wait(5)
            except subprocess.TimeoutExpired:
                child.kill()
        subprocess.run(["rm", "-rf", self.folder])

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.close()
