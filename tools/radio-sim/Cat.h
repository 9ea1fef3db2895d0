#pragma once
// The radio the simulator pretends to be, in one of three CAT languages: Kenwood
// text (a TS-2000), Icom CI-V frames (an IC-7300) and Yaesu's 5-byte commands
// (an FT-817). Pure: bytes in, bytes out, so the tests drive it without a
// terminal; timing, echo and the knob belong to the program.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ovrin::radiosim {

enum class Family { Kenwood, Civ, Ft817 };

// The union of the families' modes; each family maps its own codes onto it.
enum class RadioMode : std::uint8_t { Lsb, Usb, Cw, CwR, Am, Fm, Fsk, FskR, Wfm, Dig, Pkt };

// What the radio is set to, whichever language sets it.
struct RadioState {
    std::uint64_t vfo[2] = {14'074'000, 14'074'000};  // A and B in Hz; FT8 on 20 m, what most clients show first
    RadioMode mode[2] = {RadioMode::Usb, RadioMode::Usb};            // of A and B
    int rx = 0;  // the VFO received on: 0 A, 1 B
    int tx = 0;  // the VFO transmitted on: split when it is not rx
    bool ptt = false;
    std::uint64_t stepHz = 1;  // a frequency set is rounded down to it, as a radio tunes in steps
    bool Split() const { return rx != tx; }
    std::uint64_t Tuned(std::uint64_t hz) const { return hz - hz % stepHz; }
};

// One command as the radio took it.
struct Exchange {
    std::string name;     // what --slow calls it: the letters ("FA") or the command byte in hex ("03")
    std::string answer;   // to the asker; empty when the radio answers nothing
    std::string reports;  // sent unasked after the answer, when the radio is set to tell of changes
    bool ptt = false;     // the transmitter after the command: keyed or not
};

class Radio {
public:
    virtual ~Radio() = default;
    // Bytes as they come, in pieces of any size; the commands they complete.
    virtual std::vector<Exchange> Feed(std::string_view bytes) = 0;
    // The front panel's knob set VFO A to hz; the reports that causes.
    virtual std::string TurnKnob(std::uint64_t hz) = 0;
    // Bytes of a command not complete yet, and throwing them away.
    virtual std::size_t Pending() const = 0;
    virtual void DropPending() = 0;
    const RadioState& State() const { return state_; }
    void SetStep(std::uint64_t hz) { state_.stepHz = hz > 0 ? hz : 1; }

protected:
    RadioState state_;
};

struct RadioSetup {
    Family family = Family::Kenwood;
    std::uint8_t civAddress = 0x94;  // the IC-7300's default
    bool transceive = false;         // CI-V: report changes in frames to all (00)
    std::uint64_t stepHz = 1;        // Kenwood and CI-V: the tuning step a set is rounded to
};

std::unique_ptr<Radio> MakeRadio(const RadioSetup& setup);

// Cuts a Kenwood byte stream into commands. Commands may arrive split over several
// reads or several in one read. A run of bytes that grows past the limit
// without a ';' is line noise: it is dropped up to and including the next ';',
// so its tail is not mistaken for a command.
class CatParser {
public:
    explicit CatParser(std::size_t limit = 256) : limit_(limit) {}
    std::vector<std::string> Feed(std::string_view bytes);
    std::size_t Pending() const { return buffer_.size(); }
    bool Discarding() const { return discarding_; }
    void Clear() {
        buffer_.clear();
        discarding_ = false;
    }

private:
    std::size_t limit_;
    std::string buffer_;
    bool discarding_ = false;
};

// TS-2000: commands end in ';', a read is answered with its letters, the value
// and ';' (SM0; with the receiver's digit too: SM00005;), a set with nothing,
// anything not understood with "?;". With
// auto-information on (AI1; or AI2;) every change is reported unasked: the item
// that changed (FA, FB, MD, FR, FT) and then the IF status word.
class KenwoodRadio : public Radio {
public:
    std::vector<Exchange> Feed(std::string_view bytes) override;
    std::string TurnKnob(std::uint64_t hz) override;
    std::size_t Pending() const override { return parser_.Pending(); }
    void DropPending() override { parser_.Clear(); }
    // One complete command with its ';'.
    Exchange Command(std::string_view command);

private:
    std::string Answer(std::string_view name, std::string_view argument);
    std::string Reports(const RadioState& before) const;

    CatParser parser_;
    char autoInfo_ = '0';
};

// IC-7300: frames FE FE <to> <from> <command> [sub] [data] FD. Each frame to this
// radio is answered in a frame to its sender: the data for a read, FB for a set
// done, FA for anything refused. Frames to other addresses are not answered.
// With transceive on, a change of the received frequency or mode is reported in
// a frame to 00 (all).
class CivRadio : public Radio {
public:
    CivRadio(std::uint8_t address, bool transceive) : address_(address), transceive_(transceive) {}
    std::vector<Exchange> Feed(std::string_view bytes) override;
    std::string TurnKnob(std::uint64_t hz) override;
    std::size_t Pending() const override { return buffer_.size(); }
    void DropPending() override { buffer_.clear(); }

private:
    bool Handle(std::string_view frame, Exchange& exchange);
    std::string Body(std::uint8_t command, std::string_view data);
    std::string Reports(const RadioState& before) const;
    std::string FrameTo(std::uint8_t to, std::string_view body) const;

    std::uint8_t address_;
    bool transceive_;
    std::uint8_t filter_ = 1;                         // FIL1..FIL3
    std::uint8_t widths_[3] = {0x34, 0x28, 0x22};     // their widths in SSB: 3.0, 2.4, 1.8 kHz (see 1A 03)
    bool data_ = false;        // the data (D) variant of the mode
    std::string buffer_;
};

// FT-817: five bytes, four parameters then the opcode, with no end mark. Reads
// answer with their fixed number of bytes (0x03: 5, 0xE7: 1, 0xF7: 1, 0xBB: 2,
// 0xBD: 2); every other command with the one-byte acknowledgement 0x00.
class Ft817Radio : public Radio {
public:
    std::vector<Exchange> Feed(std::string_view bytes) override;
    std::string TurnKnob(std::uint64_t hz) override;
    std::size_t Pending() const override { return buffer_.size(); }
    void DropPending() override { buffer_.clear(); }

private:
    std::string Answer(std::string_view command);
    std::uint8_t Eeprom(unsigned address) const;

    std::string buffer_;
};

// Binary-coded decimal, two digits a byte: little-endian (CI-V, lowest digits
// first) or big-endian (Yaesu). FromBcd refuses a nibble over 9.
std::string ToBcd(std::uint64_t value, std::size_t bytes, bool littleEndian);
bool FromBcd(std::string_view bytes, bool littleEndian, std::uint64_t& value);

// Log text for one block, 16 bytes a line, each line ending in '\n':
// "12:00:00.000 <tag> 46 41 3B  |FA;|", bytes outside printable ASCII shown as '.'.
std::string FormatLog(std::string_view timestamp, std::string_view tag, std::string_view bytes);

}  // namespace ovrin::radiosim
