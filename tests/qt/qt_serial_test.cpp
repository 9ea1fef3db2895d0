// The serial facility on pseudo-terminals: the test holds the master side (the
// "radio"), the facility opens the slave through <folder>/dosdevices/com20.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>

#include "QtTestSupport.h"
#include "platform/qt/QtCommControl.h"

namespace ovrin::qt {
namespace {

using test::Drain;
using test::WaitUntil;
namespace fs = std::filesystem;

constexpr int16_t kPort = 20;  // above the fixed table, so only the link names it

class Pty {
public:
    Pty() {
        int slave = -1;
        char name[256] = {};
        if (::openpty(&master_, &slave, name, nullptr, nullptr) != 0) throw std::runtime_error("openpty");
        ::close(slave);
        ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
        slavePath_ = name;
    }
    ~Pty() { Hangup(); }

    const std::string& SlavePath() const { return slavePath_; }
    void Hangup() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }
    void Write(const std::string& bytes) {
        ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // What the facility sent, until `count` bytes came or the time ran out.
    std::string Read(std::size_t count, int timeoutMs = 2000) {
        std::string got;
        WaitUntil(
            [&] {
                char buffer[4096];
                const ssize_t n = ::read(master_, buffer, sizeof buffer);
                if (n > 0) got.append(buffer, static_cast<std::size_t>(n));
                return got.size() >= count;
            },
            timeoutMs);
        return got;
    }
    termios LineSettings() const {
        termios t{};
        ::tcgetattr(master_, &t);  // on Linux the master reports the slave's settings
        return t;
    }

private:
    int master_ = -1;
    std::string slavePath_;
};

std::string AllByteValues() {
    std::string bytes(256, '\0');
    for (int i = 0; i < 256; ++i) bytes[static_cast<std::size_t>(i)] = static_cast<char>(i);
    return bytes;
}

class SerialTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder_.isValid());
        fs::create_directory(Links());
        pty_ = std::make_unique<Pty>();
        Link(pty_->SlavePath());
        com_ = std::make_unique<QtCommControl>(folder_.path().toStdString());
        com_->SetCommPort(kPort);
    }

    fs::path Links() const { return fs::path(folder_.path().toStdString()) / "dosdevices"; }
    void Link(const std::string& target) {
        fs::remove(Links() / "com20");
        fs::create_symlink(target, Links() / "com20");
    }

    QTemporaryDir folder_;
    std::unique_ptr<Pty> pty_;
    std::unique_ptr<QtCommControl> com_;
};

TEST_F(SerialTest, OpensWithTheLineSettingsAndChangesThemWhileOpen) {
    EXPECT_EQ(com_->DeviceName(kPort), pty_->SlavePath());
    com_->SetSettings("4800,o,7,2");
    com_->SetPortOpen(true);
    ASSERT_TRUE(com_->PortOpen());

    // A pty always reports 8 bits without parity; speed and stop bits show.
    termios t = pty_->LineSettings();
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B4800));
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    // Raw: no flow control, no translation, no echo.
    EXPECT_FALSE(t.c_cflag & CRTSCTS);
    EXPECT_FALSE(t.c_iflag & (IXON | IXOFF | ICRNL | INLCR | ISTRIP));
    EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG));
    EXPECT_FALSE(t.c_oflag & OPOST);

    com_->SetSettings("19200,n,8,1");  // applied at once
    t = pty_->LineSettings();
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B19200));
    EXPECT_FALSE(t.c_cflag & CSTOPB);
    EXPECT_EQ(com_->Settings(), "19200,n,8,1");

    com_->SetPortOpen(false);
    EXPECT_FALSE(com_->PortOpen());
}

TEST_F(SerialTest, EveryByteValuePassesBothWaysUnchanged) {
    com_->SetSettings("9600,n,8,1");
    com_->SetPortOpen(true);
    const std::string bytes = AllByteValues();

    pty_->Write(bytes);
    std::string got;
    ASSERT_TRUE(WaitUntil([&] {
        got += com_->Input();
        return got.size() >= bytes.size();
    }));
    EXPECT_EQ(got, bytes);

    com_->Output(bytes + bytes);
    EXPECT_EQ(pty_->Read(2 * bytes.size()), bytes + bytes);
    EXPECT_TRUE(WaitUntil([&] { return com_->OutBufferCount() == 0; }));
}

// The receive poll runs between events: what waits in the driver must be counted
// and read without the event loop having run.
TEST_F(SerialTest, APollSeesWhateverWaitsWithoutTheEventLoop) {
    com_->SetPortOpen(true);
    pty_->Write("\xFE\xFE\x04\xE0\x03\xFD");

    int32_t count = 0;
    for (int i = 0; i < 500 && count < 6; ++i) {  // bounded: the pty hands bytes on in microseconds
        count = com_->InBufferCount();
        if (count < 6) ::usleep(1000);
    }
    EXPECT_EQ(count, 6);
    EXPECT_EQ(com_->Input(), "\xFE\xFE\x04\xE0\x03\xFD");
    EXPECT_EQ(com_->InBufferCount(), 0);
    EXPECT_EQ(com_->Input(), "");
}

TEST_F(SerialTest, ModemLinesOnADeviceWithoutThemAreKeptAndReadBack) {
    com_->SetDTREnable(true);
    com_->SetRTSEnable(false);
    com_->SetPortOpen(true);  // a pty has no DTR/RTS: not an open failure
    EXPECT_TRUE(com_->PortOpen());
    EXPECT_TRUE(com_->DTREnable());
    EXPECT_FALSE(com_->RTSEnable());

    com_->SetRTSEnable(true);
    EXPECT_TRUE(com_->RTSEnable());
    com_->SetRTSEnable(false);
    com_->SetDTREnable(false);
    EXPECT_FALSE(com_->RTSEnable());
    EXPECT_FALSE(com_->DTREnable());
    com_->SetPortOpen(false);
    EXPECT_FALSE(com_->DTREnable());
}

TEST_F(SerialTest, RefusesSettingsItCannotHonourAndKeepsTheOldOnes) {
    com_->SetSettings("1200,e,7,2");
    for (const char* bad : {"9600,x,8,1", "9600,n,4,1", "9600,n,8,3", "9600,,8,2", "fast", ""}) {
        try {
            com_->SetSettings(bad);
            ADD_FAILURE() << "accepted " << bad;
        } catch (const PlatformError& e) {
            EXPECT_STREQ(e.what(), kInvalidPropertyValue);
        }
    }
    EXPECT_EQ(com_->Settings(), "1200,e,7,2");

    com_->SetPortOpen(true);
    EXPECT_THROW(com_->SetSettings("9600,q,8,1"), PlatformError);
    const termios t = pty_->LineSettings();
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B1200));
    EXPECT_TRUE(t.c_cflag & CSTOPB);
}

TEST_F(SerialTest, PortRulesOpenAndClosed) {
    EXPECT_THROW(com_->SetCommPort(0), PlatformError);
    EXPECT_THROW(com_->Input(), PlatformError);
    EXPECT_THROW(com_->InBufferCount(), PlatformError);
    EXPECT_THROW(com_->Output("x"), PlatformError);
    EXPECT_EQ(com_->OutBufferCount(), 0);
    com_->SetPortOpen(false);  // closing a closed port is no failure

    com_->SetPortOpen(true);
    try {
        com_->SetPortOpen(true);
        ADD_FAILURE() << "opened twice";
    } catch (const PlatformError& e) {
        EXPECT_STREQ(e.what(), "Port already open");
    }
    EXPECT_THROW(com_->SetCommPort(3), PlatformError);
    EXPECT_EQ(com_->CommPort(), kPort);
    EXPECT_TRUE(com_->PortOpen());

    // Another program (here another facility) cannot take the port while it is open.
    QtCommControl other(folder_.path().toStdString());
    other.SetCommPort(kPort);
    EXPECT_THROW(other.SetPortOpen(true), PlatformError);
    EXPECT_FALSE(other.PortOpen());
}

TEST_F(SerialTest, OpeningAMissingDeviceFailsAndLeavesThePortClosed) {
    Link("/dev/pts/no-such-terminal");
    try {
        com_->SetPortOpen(true);
        ADD_FAILURE() << "opened a missing device";
    } catch (const PlatformError& e) {
        EXPECT_STRNE(e.what(), "");
    }
    EXPECT_FALSE(com_->PortOpen());

    com_->SetCommPort(40);  // no link and beyond the table: no device at all
    EXPECT_EQ(com_->DeviceName(40), "");
    EXPECT_THROW(com_->SetPortOpen(true), PlatformError);
    EXPECT_FALSE(com_->PortOpen());
    EXPECT_EQ(com_->DeviceName(3), "/dev/ttyS2");
}

TEST_F(SerialTest, ADeviceThatVanishesIsClosedAndCanBeOpenedAgainLater) {
    com_->SetPortOpen(true);
    pty_->Write("ok");
    ASSERT_TRUE(WaitUntil([&] { return com_->InBufferCount() == 2; }));
    com_->Input();

    // The adapter is pulled: its device and its link are gone.
    pty_->Hangup();
    fs::remove(Links() / "com20");
    ASSERT_TRUE(WaitUntil([&] { return !com_->PortOpen(); }, 1000));
    Drain(20);  // the event loop keeps running quietly
    EXPECT_THROW(com_->Input(), PlatformError);
    EXPECT_THROW(com_->InBufferCount(), PlatformError);
    EXPECT_THROW(com_->Output("x"), PlatformError);
    EXPECT_EQ(com_->OutBufferCount(), 0);
    EXPECT_THROW(com_->SetPortOpen(true), PlatformError);
    EXPECT_FALSE(com_->PortOpen());

    // Plugged in again.
    pty_ = std::make_unique<Pty>();
    Link(pty_->SlavePath());
    com_->SetPortOpen(true);
    EXPECT_TRUE(com_->PortOpen());
    com_->Output("again");
    EXPECT_EQ(pty_->Read(5), "again");
    Drain(20);
    EXPECT_TRUE(com_->PortOpen());
}

// Without the event loop running, the loss shows inside the call that meets it.
TEST_F(SerialTest, ADeviceThatVanishesUnderAWriteOrAPollFailsThatCall) {
    com_->SetPortOpen(true);
    pty_->Hangup();
    EXPECT_THROW(com_->Output("x"), PlatformError);
    EXPECT_FALSE(com_->PortOpen());
    Drain(20);

    pty_ = std::make_unique<Pty>();
    Link(pty_->SlavePath());
    com_->SetPortOpen(true);
    pty_->Hangup();
    EXPECT_THROW(com_->InBufferCount(), PlatformError);
    EXPECT_FALSE(com_->PortOpen());
    Drain(20);
    EXPECT_FALSE(com_->PortOpen());
}

}  // namespace
}  // namespace ovrin::qt
