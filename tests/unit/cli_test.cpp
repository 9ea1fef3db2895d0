#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <unistd.h>

#include "cli/CommandLine.h"
#include "platform/std/PortNames.h"

namespace ovrin::cli {
namespace {

std::string Describe(const Options& o) {
    std::string d;
    for (const auto& [name, on] : {std::pair{" help", o.help}, {" version", o.version}, {" headless", o.headless}})
        if (on) d += name;
    for (const auto& [name, v] : {std::pair{" port=", o.hostPort}, {" com=", o.comPort}, {" bind=", o.bindAddress},
                                  {" dir=", o.configDir}, {" device=", o.comDevice}})
        if (v) d += name + *v;
    if (o.line) d += " line=" + o.line->baud + "/" + o.line->parity + "/" + o.line->dataBits + "/" + o.line->stopBits;
    for (const auto& [name, v] : {std::pair{" rts", o.rts}, {" dtr", o.dtr}, {" ptt", o.pttRts}, {" keep", o.keepPortOpen}})
        if (v) d += name + std::string(*v ? "=on" : "=off");
    if (o.listPorts) d += " list";
    for (const auto& [name, value] : o.options) d += " " + name + "=" + value;
    if (o.service != Options::Service::None) d += " service=" + std::to_string(static_cast<int>(o.service));
    return d;
}

// The options the file keeps are checked as the file checks them (their bad values:
// OptionsFile.EveryLineThatCannotBeUsedIsToldAndSkipped); here how each is taken.
TEST(CommandLine, EachOptionAndEachBadValue) {
    const struct {
        std::vector<std::string> args;
        std::string understood;  // when good
        std::string error;       // the start of the one line, when bad
        System system = System::Linux;
    } rows[] = {
        {{"--headless", "--port", "50001", "--com", "com3", "--bind", "::1", "--config-dir", "/srv/radio"},
         " headless port=50001 com=COM3 bind=::1 dir=/srv/radio", ""},
        {{"--port=00080", "--com=COM16"}, " port=80 com=COM16", ""},
        {{"--port", "2", "--port", "65535"}, " port=65535", ""},
        {{"-h", "--version"}, " help version", ""},
        {{"--port", "0"}, "", "--port 0: not a TCP port"}, {{"--port"}, "", "--port needs a value"},
        {{"--port", "65536"}, "", "--port 65536: not a TCP port"},
        {{"--port", "12a"}, "", "--port 12a: not a TCP port"},
        {{"--com", "COM0"}, "", "--com COM0: not a Com Port"},
        {{"--com", "COM257"}, "", "--com COM257: not a Com Port (COM1 to COM256) or a device path"},
        {{"--com", "com256", "--list-ports"}, " com=COM256 list", ""},
        {{"--com", "/dev/ttyUSB0"}, "", "--com /dev/ttyUSB0: give the port's COM name (COM1 to COM256", System::Windows},
        {{"--com", "COM0"}, "", "--com COM0: not a Com Port (COM1 to COM256)", System::Windows},
        {{"--headless=yes"}, "", "--headless takes no value"}, {{"COM1"}, "", "unexpected argument COM1"},
        {{"-platform", "offscreen"}, "", "unknown option -platform"},
        {{"--line", "4800,e,7,1", "--rts", "off", "--dtr=on", "--ptt-rts", "on", "--keep-port-open", "on"},
         " line=4800/Even/7/1 rts=off dtr=on ptt=on keep=on", ""},
        {{"--line", "115200,M,5,1.5", "--line", "300,s,8,2"}, " line=300/Space/8/2", ""},
        {{"--com", "COM2", "--com", "/dev/serial/by-id/usb-FTDI-if00"}, " device=/dev/serial/by-id/usb-FTDI-if00", ""},
        {{"--com", "/dev/ttyUSB0", "--com", "com4"}, " com=COM4", ""},
        {{"--allow", "10.0.0.0/8,::1", "--allow=2001:db8::/32"}, " allow=10.0.0.0/8, ::1, 2001:db8::/32", ""},
        {{"--allow", "10.0.0.1", "--allow", "any"}, " allow=any", ""},
        {{"--allow", "any", "--allow", "::1 10.0.0.1"}, " allow=::1, 10.0.0.1", ""},
        {{"--allow", "10.0.0.5=transmit,10.0.0.0/8=monitor", "--tx-allowed", "14000000-14350000,7000000-7200000"},
         " allow=10.0.0.5=transmit, 10.0.0.0/8=monitor tx-allowed=14000000-14350000,7000000-7200000", ""},
        {{"--clients", "5", "--answer-wait", "20", "--rfc2217-port", "50001", "--tx-limit", "600", "--clients", "2"},
         " clients=2 answer-wait=20 rfc2217-port=50001 tx-limit=600", ""},
        {{"--rfc2217-port", "off", "--status-port", "0", "--ptt-line", "DTR"},
         " rfc2217-port=off status-port=0 ptt-line=DTR", ""},
        {{"--line", "9600,n,8"}, "", "--line 9600,n,8: BAUD,PARITY,BITS,STOP as in 9600,n,8,2"},
        {{"--line", "1000000,n,8,1"}, "", "--line 1000000,n,8,1: BAUD"},
        {{"--line", "9600,n,4,1"}, "", "--line 9600,n,4,1: BAUD"},
        {{"--keep-port-open", "1"}, "", "--keep-port-open 1: on or off"},
        {{"--rts", "on", "--ptt-rts", "on"}, "", "--rts on and --ptt-rts on exclude each other"},
        {{"--dtr", "on", "--ptt-rts", "on", "--ptt-line", "dtr"}, "", "--dtr on and --ptt-rts on exclude each other"},
        {{"--rts", "on", "--ptt-rts", "on", "--ptt-line", "dtr"}, " rts=on ptt=on ptt-line=dtr", ""},
        {{"--com", "ttyUSB0"}, "", "--com ttyUSB0: not a Com Port (COM1 to COM256) or a device path"},
        {{"--allow", "::ffff:192.168.01.9/120"}, "", "--allow ::ffff:192.168.01.9/120: \"::ffff:192.168.01.9/120\": a "
                                                    "leading zero is decimal to some programs and octal to others; "
                                                    "write ::ffff:192.168.1.9"},
        {{"--bind", "192.168.001.10"}, "", "--bind 192.168.001.10: a leading zero is decimal to some programs and "
                                           "octal to others; write 192.168.1.10"},
        {{"--bind", "::"}, " bind=::", ""}, {{"--clients", "6"}, "", "--clients 6: 1 to 5"},
        {{"--port", "50001", "--rfc2217-port", "50001"}, "", "--rfc2217-port 50001: the same as --port"},
        {{"--rfc2217-port", "50001", "--status-port", "50001"}, "", "--status-port 50001: the same as --rfc2217-port"},
        {{"--cat", "civ", "--cat=ft817"}, " cat=ft817", ""},
        {{"--install-service", "--com", "COM3", "--ptt-rts", "on"}, " com=COM3 ptt=on service=1", ""},
        {{"--uninstall-service"}, " service=2", ""},
        {{"--service", "--port", "50001"}, " port=50001 service=3", ""},
        {{"--install-service", "--service"}, "", "--install-service, --uninstall-service and --service exclude each other"},
    };
    for (const auto& row : rows) {
        const Parsed p = ParseOptions(row.args, row.system);
        SCOPED_TRACE(testing::PrintToString(row.args));
        EXPECT_EQ(p.error.substr(0, row.error.size()), row.error);
        EXPECT_EQ(p.error.empty(), row.error.empty());
        if (row.error.empty()) {
            EXPECT_EQ(Describe(p.options), row.understood);
        }
    }
}

TEST(CommandLine, SettingsFolderGivenElseProgramFolderWhenWritableElseTheUsersConfiguration) {
    Options given;
    given.configDir = "radio2/";
    EXPECT_EQ(SettingsFolder(given, "/opt/ovrin", true, "/xdg", "/home/op"),
              (std::filesystem::current_path() / "radio2").string());
#ifdef _WIN32
    GTEST_SKIP() << "the Windows program chooses %APPDATA% itself";
#endif
    const struct {
        bool writable;
        const char *xdg, *home, *folder;
    } rows[] = {
        {true, "/xdg", "/home/op", "/opt/ovrin"},
        {false, "/xdg", "/home/op", "/xdg/ovrin-server"},
        {false, "relative", "/home/op", "/home/op/.config/ovrin-server"},
        {false, "", "", "/opt/ovrin"},
    };
    for (const auto& r : rows) EXPECT_EQ(SettingsFolder({}, "/opt/ovrin", r.writable, r.xdg, r.home), r.folder);
}

// --com with a device path: a link reused when it points there (its name in any
// case), else the lowest free COM name linked now; an error names both.
TEST(CommandLine, DevicePathTakesOrMakesADosdevicesLink) {
#ifdef _WIN32
    GTEST_SKIP() << "the Windows program takes COM names only";
#endif
    namespace fs = std::filesystem;
    const fs::path folder = fs::temp_directory_path() / ("cli-links-" + std::to_string(::getpid()));
    fs::create_directories(folder / "dosdevices");
    fs::create_symlink("/dev/ttyS0", folder / "dosdevices" / "com1");
    fs::create_symlink("/dev/ttyUSB0", folder / "dosdevices" / "COM5");
    const std::tuple<const char*, int, bool> rows[] = {
        {"/dev/ttyUSB0", 5, false}, {"/dev/serial/by-id/usb-if00", 2, true}, {"/dev/serial/by-id//usb-if00", 2, false}};
    for (const auto& [device, port, made] : rows) {
        const LinkedPort linked = LinkPortToDevice(device, folder.string());
        EXPECT_EQ(std::pair(linked.port, linked.made), std::pair(port, made)) << device << linked.error;
    }
    EXPECT_EQ(DeviceForPort(5, folder.string()), (folder / "dosdevices" / "COM5").string());
    // The sixteen table names taken: the next goes above them, as Windows numbers adapters.
    for (int n = 3; n <= 16; ++n)
        if (n != 5)
            fs::create_symlink("/dev/ttyUSB" + std::to_string(n), folder / "dosdevices" / ("com" + std::to_string(n)));
    const LinkedPort high = LinkPortToDevice("/dev/ttyACM7", folder.string());
    EXPECT_EQ(std::pair(high.port, high.made), std::pair(17, true)) << high.error;
    EXPECT_EQ(DeviceForPort(17, folder.string()), (folder / "dosdevices" / "com17").string());
    fs::remove_all(folder / "dosdevices");
    std::ofstream(folder / "dosdevices") << "a file, not a folder";
    EXPECT_EQ(LinkPortToDevice("/dev/ttyUSB1", folder.string()).error.substr(0, 43),
              "COM1 (/dev/ttyUSB1): cannot make the link /");
    fs::remove_all(folder);
}

}  // namespace
}  // namespace ovrin::cli
