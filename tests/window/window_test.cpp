// The built program in a real X server, seen and used from outside as a person
// would: its window is found by its caption, measured, photographed, clicked and
// typed into. The widget tree itself is the offscreen Qt tests' business; this is
// about what reaches the screen.
//
//   window_test <ovrin-server> <icon.png>
// Exits 77 (skipped) when Xvfb cannot start here.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <QColor>
#include <QImage>
#include <QString>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>

#include "XSession.h"
#include "settings/SettingsRecord.h"

namespace ovrin::window {
namespace {
namespace fs = std::filesystem;

const char* gServer = nullptr;
const char* gIcon = nullptr;
Xvfb* gX = nullptr;

const char* const kCaption = "Ovrin-Server v1.10.01";
const char* const kCaptionRegex = "^Ovrin-Server v1\\.10\\.01$";
constexpr int kDefaultPort = 50000;

// --- where things are in the window, in pixels ---
struct Rect {
    int x, y, w, h;
};
constexpr Rect kPicture{96, 7, 231, 62};
constexpr Rect kTitle{4, 7, 93, 62};  // "OVRIN-SERVER Com Port TCP/IP Server"
struct Caption {
    const char* text;
    Rect at;
};
const Caption kCaptions[] = {
    {"Connection Status: ", {2, 74, 93, 13}}, {"Host Name: ", {7, 95, 88, 13}}, {"Host IP Adrs: ", {9, 116, 86, 13}},
    {"Host IP Port: ", {27, 137, 68, 13}},    {"Rmt IP Adrs: ", {4, 158, 92, 13}},
    {"Com Port: ", {198, 74, 64, 13}},  // its left end lies under cboConn
    {"Baud: ", {231, 95, 31, 13}},            {"# Bits: ", {229, 116, 33, 13}},  {"Parity: ", {230, 137, 32, 13}},
    {"# Stop: ", {224, 158, 38, 13}},
};
constexpr Rect kConnBox{96, 70, 102, 21};
constexpr Rect kConnText{99, 73, 76, 15};
constexpr Rect kPortBox{96, 133, 51, 21};
constexpr Rect kPortText{99, 136, 45, 15};
constexpr Rect kBridgeFreePart{149, 136, 46, 17};  // the hidden Bridge box, where nothing else is
constexpr Rect kPttCaption{40, 178, 150, 13};
constexpr Rect kPttBox{22, 178, 12, 13};
constexpr Rect kActiveInListenCaption{40, 198, 150, 13};
constexpr Rect kActiveInListenBox{22, 198, 12, 13};

// --- looking at pixels ---
int Luma(QRgb c) { return (299 * qRed(c) + 587 * qGreen(c) + 114 * qBlue(c)) / 1000; }
bool Dark(QRgb c) { return Luma(c) < 100; }
bool Amber(QRgb c) { return qRed(c) > 180 && qGreen(c) > 110 && qGreen(c) < 200 && qBlue(c) < 70; }
bool Green(QRgb c) { return qGreen(c) > 140 && qRed(c) < 100 && qBlue(c) < 100; }
bool Red(QRgb c) { return qRed(c) > 150 && qGreen(c) < 70 && qBlue(c) < 70; }
bool Highlight(QRgb c) { return qBlue(c) > 150 && qRed(c) < 110 && qGreen(c) > 90 && qGreen(c) < 190; }

bool Inside(const QImage& image, Rect r) { return image.rect().contains(QRect(r.x, r.y, r.w, r.h)); }

template <typename Pred>
int Count(const QImage& image, Rect r, Pred pred) {
    if (!Inside(image, r)) return 0;
    int n = 0;
    for (int y = r.y; y < r.y + r.h; ++y)
        for (int x = r.x; x < r.x + r.w; ++x)
            if (pred(image.pixel(x, y))) ++n;
    return n;
}

bool SameIn(const QImage& a, const QImage& b, Rect r) {
    if (!Inside(a, r) || !Inside(b, r)) return false;
    for (int y = r.y; y < r.y + r.h; ++y)
        for (int x = r.x; x < r.x + r.w; ++x)
            if (a.pixel(x, y) != b.pixel(x, y)) return false;
    return true;
}

// The colour most of the window shows: the form's background.
QRgb Background(const QImage& image) {
    std::map<QRgb, int> seen;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) ++seen[image.pixel(x, y)];
    return std::max_element(seen.begin(), seen.end(), [](auto& a, auto& b) { return a.second < b.second; })->first;
}

// --- TCP, from outside ---
bool PortTaken(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    const bool taken = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0;
    close(fd);
    return taken;
}

int FreeTcpPort() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    close(fd);
    return ntohs(a.sin_port);
}

int Connect(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

// The program copied into a fresh folder of its own, its COM1 a pseudo-terminal,
// started on the private X server; the window is found the way a person finds it.
class WindowTest : public ::testing::Test {
protected:
    WindowTest() : x_(gX->Env()) {}

    void SetUp() override {
        char pattern[] = "/tmp/ovrin-window-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder_ = pattern;
        fs::copy_file(gServer, folder_ / "ovrin-server");
        ASSERT_NO_FATAL_FAILURE(OpenRadio());

        // No settings file: the first start, listening on 50000. Should that port be
        // someone else's, a stored file names a free one instead.
        port_ = kDefaultPort;
        if (PortTaken(port_)) WriteSettings(port_ = FreeTcpPort());

        EnvChanges env = gX->Env();
        env["QT_QPA_PLATFORM"] = "xcb";  // the test suite runs with offscreen
        env["XDG_RUNTIME_DIR"] = (folder_ / "runtime").string();
        fs::create_directory(folder_ / "runtime");
        fs::permissions(folder_ / "runtime", fs::perms::owner_all, fs::perm_options::replace);
        server_ = std::make_unique<Child>(std::vector<std::string>{(folder_ / "ovrin-server").string()}, env,
                                          folder_.string(), (folder_ / "server.log").string());

        ASSERT_TRUE(WaitFor([&] { return !x_.FindByName(kCaptionRegex).empty() || !server_->Running(); }, 20000))
            << "no window captioned \"" << kCaption << "\" within 20 s";
        ASSERT_TRUE(server_->Running()) << "the program ended at start-up";
        const std::vector<std::string> found = x_.FindByName(kCaptionRegex);
        ASSERT_EQ(found.size(), 1u);
        window_ = found.front();
        ASSERT_TRUE(WaitFor([&] { return PortTaken(port_); }, 10000)) << "not listening on " << port_;
    }

    void TearDown() override {
        if (server_) server_->Stop(5000);
        if (radioMaster_ >= 0) close(radioMaster_);
        if (radioSlave_ >= 0) close(radioSlave_);
        if (HasFailure()) {
            std::cout << "Screenshots and the program's output are kept in " << folder_ << "\n";
        } else {
            std::error_code ignored;
            fs::remove_all(folder_, ignored);
        }
    }

    void OpenRadio() {
        radioMaster_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(radioMaster_, 0);
        ASSERT_EQ(grantpt(radioMaster_), 0);
        ASSERT_EQ(unlockpt(radioMaster_), 0);
        const std::string device = ptsname(radioMaster_);
        // Held open so that the line never hangs up between the program's opens.
        radioSlave_ = open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios t{};
        tcgetattr(radioSlave_, &t);
        cfmakeraw(&t);
        tcsetattr(radioSlave_, TCSANOW, &t);
        fs::create_directory(folder_ / "dosdevices");
        fs::create_symlink(device, folder_ / "dosdevices" / "com1");
    }

    void WriteSettings(int port) {
        SettingsRecordBuffer r;
        r.Reserved1 = r.Reserved2 = std::string(20, ' ');
        r.Interbyte = ToField("100 mS", 7);
        r.Baud = ToField("9600", 6);
        r.DataBits = ToField("8", 1);
        r.Parity = ToField("None", 5);
        r.StopBits = ToField("2", 1);
        r.HostPort = ToField(std::to_string(port), 5);
        r.ListenAtStart = 1;
        r.ComPortName = ToField("COM1", 6);
        r.DTRFlag = r.RTSFlag = r.BridgeFlag = r.PTTControlFlag = "0";
        r.ActiveInListenFlag = "1";
        std::ofstream(folder_ / "Ovrin-Bridge.ini", std::ios::binary) << r.Encode();
    }

    // What the screen shows of the window now (also kept as a file, for a look).
    QImage Look() {
        const fs::path file = folder_ / ("shot-" + std::to_string(++shots_) + ".png");
        if (!x_.Screenshot(window_, file.string())) return {};
        QImage image(QString::fromStdString(file.string()));
        if (image.isNull()) ADD_FAILURE() << "unreadable screenshot " << file;
        return image.convertToFormat(QImage::Format_RGB32);
    }

    // Screenshots until one satisfies `pred`; the last one taken.
    template <typename Pred>
    QImage LookUntil(Pred pred, int ms, bool* met) {
        QImage image;
        *met = WaitFor(
            [&] {
                image = Look();
                return !image.isNull() && pred(image);
            },
            ms);
        return image;
    }

    // The status picture changes `changes` times: the event loop is running.
    bool PictureAnimates(int changes, int ms) {
        QImage last = Look();
        int seen = 0;
        return WaitFor(
            [&] {
                const QImage now = Look();
                if (now.isNull() || last.isNull()) return false;
                if (!SameIn(now, last, kPicture)) ++seen;
                last = now;
                return seen >= changes;
            },
            ms);
    }

    std::vector<std::string> ProgramWindows() { return x_.FindByClass("^ovrin-server$"); }

    // Opens the combo box's list with a click on its arrow and clicks an entry.
    void Pick(Rect box, int row, int rows) {
        ASSERT_TRUE(x_.Click(window_, box.x + box.w - 9, box.y + box.h / 2));
        std::string list;
        ASSERT_TRUE(WaitFor(
            [&] {
                for (const std::string& id : ProgramWindows())
                    if (id != window_) list = id;
                return !list.empty();
            },
            5000))
            << "the list did not open";
        const std::optional<WindowInfo> at = x_.Info(list);
        ASSERT_TRUE(at.has_value());
        ASSERT_TRUE(x_.ClickAt(at->x + at->width / 2, at->y + at->height * (2 * row + 1) / (2 * rows)));
        ASSERT_TRUE(WaitFor([&] { return ProgramWindows().size() == 1; }, 5000)) << "the list did not close";
    }

    XTools x_;
    fs::path folder_;
    int radioMaster_ = -1;
    int radioSlave_ = -1;
    int port_ = kDefaultPort;
    std::unique_ptr<Child> server_;
    std::string window_;
    int shots_ = 0;
};

TEST_F(WindowTest, OpensAloneUnderItsCaptionWithItsSizeAndIcon) {
    EXPECT_EQ(x_.PidOf(window_), server_->Pid());
    const std::optional<WindowInfo> info = x_.Info(window_);
    ASSERT_TRUE(info.has_value());
    EXPECT_TRUE(info->viewable);
    EXPECT_EQ(info->width, 334);
    EXPECT_EQ(info->height, 218);
    EXPECT_NE(x_.Property(window_, "_NET_WM_NAME").find(std::string("\"") + kCaption + "\""), std::string::npos);
    // Nothing else of the program's is on the screen: no message box at start-up.
    EXPECT_EQ(ProgramWindows(), std::vector<std::string>{window_});

    // The window's icon is the one installed for the desktop.
    const std::string property = x_.Property(window_, "_NET_WM_ICON", "32c");
    std::istringstream numbers(property.substr(property.find('=') + 1));
    std::vector<uint32_t> argb;
    for (std::string n; std::getline(numbers, n, ',');) argb.push_back(static_cast<uint32_t>(std::stoul(n)));
    ASSERT_GE(argb.size(), 2u);
    ASSERT_EQ(argb[0], 32u);
    ASSERT_EQ(argb[1], 32u);
    ASSERT_GE(argb.size(), 2u + 32 * 32);
    const QImage installed = QImage(QString::fromLocal8Bit(gIcon)).convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(installed.size(), QSize(32, 32)) << gIcon;
    int opaque = 0, differing = 0;
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            const QRgb shown = argb[2 + static_cast<std::size_t>(y * 32 + x)];
            const QRgb file = installed.pixel(x, y);
            if (qAlpha(shown) > 200) ++opaque;
            const bool alphaDiffers = std::abs(qAlpha(shown) - qAlpha(file)) > 3;
            const bool colourDiffers = qAlpha(shown) > 64 && (std::abs(qRed(shown) - qRed(file)) > 8 ||
                                                              std::abs(qGreen(shown) - qGreen(file)) > 8 ||
                                                              std::abs(qBlue(shown) - qBlue(file)) > 8);
            if (alphaDiffers || colourDiffers) ++differing;
        }
    }
    EXPECT_GT(opaque, 60) << "the window icon is (nearly) empty";
    EXPECT_EQ(differing, 0) << "pixels of " << gIcon << " that differ from the window's icon";
}

TEST_F(WindowTest, ListeningShowsTheAnimatedPictureAndReadableCaptions) {
    // Listening: an amber picture (from the first tick of its timer on), neither
    // the red of Off-line nor the green of On-line.
    bool listening = false;
    const QImage first =
        LookUntil([](const QImage& now) { return Count(now, kPicture, Amber) >= 150; }, 5000, &listening);
    ASSERT_FALSE(first.isNull());
    ASSERT_EQ(first.size(), QSize(334, 218));
    EXPECT_TRUE(listening) << "no Listen picture within 5 s";
    EXPECT_LE(Count(first, kPicture, Red), 5);
    EXPECT_LE(Count(first, kPicture, Green), 5);

    const QRgb background = Background(first);
    EXPECT_GT(Luma(background), 180) << "a light form, as the layout was drawn for";

    // Every caption is there in dark text, ending just left of its box.
    for (const Caption& c : kCaptions) {
        EXPECT_GE(Count(first, c.at, Dark), 12) << c.text;
        int right = -1;
        for (int x = c.at.x; x < c.at.x + c.at.w; ++x)
            if (Count(first, {x, c.at.y, 1, c.at.h}, Dark) > 0) right = x;
        EXPECT_GE(right, c.at.x + c.at.w - 9) << c.text << " does not end at its box";
    }
    // The title's words all fit: the text stays clear of its edges.
    EXPECT_GE(Count(first, kTitle, Dark), 150);
    EXPECT_EQ(Count(first, {kTitle.x, kTitle.y, 1, kTitle.h}, Dark), 0) << "the title is cut on the left";
    EXPECT_EQ(Count(first, {kTitle.x + kTitle.w - 1, kTitle.y, 1, kTitle.h}, Dark), 0) << "cut on the right";

    // The Connection Status box reads dark and open to choice; the settings are
    // locked, their text greyed, while listening.
    EXPECT_GE(Count(first, kConnText, Dark), 15);
    const auto ink = [&](QRgb c) { return Luma(c) < Luma(background) - 40; };
    EXPECT_GE(Count(first, kPortText, ink), 15) << "the port box is empty";
    EXPECT_EQ(Count(first, kPortText, Dark), 0) << "the port box is not greyed";
    EXPECT_GE(Count(first, kPttCaption, ink), 15);
    EXPECT_EQ(Count(first, kPttCaption, Dark), 0) << "\"Control RTS as PTT\" is not greyed";

    // "Com Port active in Listen Mode" is ticked by default, "Control RTS as PTT" not.
    const int ticked = Count(first, kActiveInListenBox, ink);
    const int unticked = Count(first, kPttBox, ink);
    EXPECT_GE(ticked, unticked + 10) << "ticked " << ticked << ", unticked " << unticked;

    // The Bridge box never shows; nothing but the form is where it sits.
    EXPECT_EQ(Count(first, kBridgeFreePart, [&](QRgb c) { return c != background; }), 0);

    // The picture moves; the captions around it hold still.
    bool moved = false;
    const QImage later = LookUntil([&](const QImage& now) { return !SameIn(now, first, kPicture); }, 5000, &moved);
    EXPECT_TRUE(moved) << "the status picture did not change within 5 s";
    EXPECT_TRUE(SameIn(later, first, kTitle));
    for (const Caption& c : kCaptions) EXPECT_TRUE(SameIn(later, first, c.at)) << c.text;
}

TEST_F(WindowTest, AClickOnThePictureWhileListeningChangesNothing) {
    ASSERT_TRUE(x_.Focus(window_));
    ASSERT_TRUE(x_.Click(window_, kPicture.x + kPicture.w / 2, kPicture.y + kPicture.h / 2));
    EXPECT_TRUE(PictureAnimates(2, 6000)) << "the window stopped after the click";
    EXPECT_EQ(ProgramWindows(), std::vector<std::string>{window_}) << "a message box or list opened";
    EXPECT_TRUE(PortTaken(port_));

    // Still serving: a client turns the picture green, its leaving amber again.
    const int client = Connect(port_);
    ASSERT_GE(client, 0) << "no connection to " << port_;
    bool met = false;
    LookUntil([](const QImage& now) { return Count(now, kPicture, Green) > 300; }, 5000, &met);
    EXPECT_TRUE(met) << "no On-line picture with a client connected";
    close(client);
    // On-line alternates green with amber frames: wait for a second of amber only.
    std::optional<std::chrono::steady_clock::time_point> calmSince;
    LookUntil(
        [&](const QImage& now) {
            const auto t = std::chrono::steady_clock::now();
            if (Count(now, kPicture, Green) > 0 || Count(now, kPicture, Amber) < 150) calmSince.reset();
            else if (!calmSince) calmSince = t;
            return calmSince && t - *calmSince >= std::chrono::seconds(1);
        },
        8000, &met);
    EXPECT_TRUE(met) << "the picture did not return to Listen after the client left";
    EXPECT_EQ(ProgramWindows(), std::vector<std::string>{window_});
}

TEST_F(WindowTest, OffLineAPortTypedIntoTheBoxThenListenAgainAndItIsKept) {
    ASSERT_TRUE(x_.Focus(window_));
    ASSERT_NO_FATAL_FAILURE(Pick(kConnBox, 0, 3));  // Off-line
    bool met = false;
    const QImage off = LookUntil([](const QImage& now) { return Count(now, kPicture, Red) > 150; }, 5000, &met);
    ASSERT_TRUE(met) << "no Off-line picture after choosing Off-line";
    EXPECT_EQ(Count(off, kPicture, Amber), 0);
    EXPECT_TRUE(WaitFor([&] { return !PortTaken(port_); }, 5000)) << "still listening on " << port_;
    EXPECT_GE(Count(off, kPortText, Dark), 15) << "the port box is still greyed";
    EXPECT_GE(Count(off, kPttCaption, Dark), 15) << "\"Control RTS as PTT\" is still greyed";

    // Another last digit for the port, as a person would change it.
    int wanted = -1;
    for (int d = 0; d <= 9 && wanted < 0; ++d) {
        const int candidate = port_ - port_ % 10 + d;
        if (candidate != port_ && candidate <= 65535 && !PortTaken(candidate)) wanted = candidate;
    }
    ASSERT_GT(wanted, 0);
    ASSERT_TRUE(x_.Click(window_, kPortBox.x + kPortBox.w / 2, kPortBox.y + kPortBox.h / 2));
    ASSERT_TRUE(x_.Keys({"End", "shift+Left"}));
    LookUntil([](const QImage& now) { return Count(now, kPortText, Highlight) >= 20; }, 3000, &met);
    EXPECT_TRUE(met) << "Shift+Left did not select the last digit";
    ASSERT_TRUE(x_.Type(std::to_string(wanted % 10)));
    LookUntil([](const QImage& now) { return Count(now, kPortText, Highlight) == 0; }, 3000, &met);
    EXPECT_TRUE(met) << "the typed digit did not replace the selection";
    EXPECT_EQ(ProgramWindows(), std::vector<std::string>{window_}) << "a message box opened while typing";

    ASSERT_NO_FATAL_FAILURE(Pick(kConnBox, 1, 3));  // Listen
    EXPECT_TRUE(WaitFor([&] { return PortTaken(wanted); }, 5000)) << "not listening on the typed port " << wanted;
    LookUntil([](const QImage& now) { return Count(now, kPicture, Amber) > 150; }, 5000, &met);
    EXPECT_TRUE(met) << "no Listen picture after choosing Listen";
    EXPECT_EQ(ProgramWindows(), std::vector<std::string>{window_});

    // Closed from outside, it closes as the user would: the window goes and the
    // settings, with the typed port, are in the file beside the program.
    kill(server_->Pid(), SIGTERM);
    const std::optional<int> status = server_->WaitExit(10000);
    ASSERT_TRUE(status.has_value()) << "still running 10 s after SIGTERM";
    EXPECT_EQ(*status, 0);
    EXPECT_TRUE(x_.FindByName(kCaptionRegex).empty());
    const std::string record = ReadAll(folder_ / "Ovrin-Bridge.ini");
    ASSERT_EQ(record.size(), SettingsRecordBuffer::kLength);
    EXPECT_EQ(FromField(SettingsRecordBuffer::Decode(record).HostPort), std::to_string(wanted));
}

}  // namespace
}  // namespace ovrin::window

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (argc != 3) {
        std::cerr << "usage: " << argv[0] << " <ovrin-server> <icon.png>\n";
        return 2;
    }
    ovrin::window::gServer = argv[1];
    ovrin::window::gIcon = argv[2];

    char logPattern[] = "/tmp/ovrin-xvfb-XXXXXX";
    const int logFd = mkstemp(logPattern);
    if (logFd >= 0) close(logFd);
    std::string why;
    std::unique_ptr<ovrin::window::Xvfb> x = ovrin::window::Xvfb::Start(logPattern, why);
    if (!x) {
        std::cout << "SKIPPED: the window is not checked: " << why << "\n";
        unlink(logPattern);
        return 77;
    }
    std::cout << "Xvfb on display " << x->Display() << "\n";
    ovrin::window::gX = x.get();
    const int result = RUN_ALL_TESTS();
    x.reset();
    unlink(logPattern);
    return result;
}
