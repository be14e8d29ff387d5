#include "tools/vmodule/vmodule_options.h"

#include <cctype>
#include <cstdlib>

namespace {

// Whole text as a number in [lo, hi]; no sign, no spaces, no trailing junk.
bool ParseNumber(const std::string& text, int base, long lo, long hi, long* out)
{
    if (text.empty() || text.size() > 18) return false;
    for (char c : text) {
        const bool digit = base == 16 ? std::isxdigit(static_cast<unsigned char>(c)) != 0
                                      : (c >= '0' && c <= '9');
        if (!digit) return false;
    }
    const long v = std::strtol(text.c_str(), nullptr, base);
    if (v < lo || v > hi) return false;
    *out = v;
    return true;
}

}  // namespace

std::string VModuleUsage()
{
    return "Usage: tarnwick-vmodule [options]\n"
           "Plays a Tarnwick RF module in command mode on a pseudo-terminal. Prints the\n"
           "path to open in the panel on one line, then answers until SIGINT or SIGTERM.\n"
           "\n"
           "  --image FILE        start from this 256-byte memory image (when it exists)\n"
           "                      and save to it after every write and at exit (mode\n"
           "                      0600: it holds the key); keeps what pair programmed\n"
           "                      across a restart in cable-link mode\n"
           "  --config-image FILE start the configuration memory (0x80-0xFF) from this\n"
           "                      128-byte file, the panel's Export Image format (read\n"
           "                      once; applied over --image)\n"
           "  --link PATH         also make PATH a symbolic link to the pty; it is printed\n"
           "                      instead of the pty path\n"
           "  --address HEX       unit address answered by Connect (default FFFE)\n"
           "  --delay MS          wait MS milliseconds before each reply (0-60000)\n"
           "  --silent            never answer\n"
           "  --read-header HEX   send this header byte with every Read Flash reply\n"
           "  --extra-byte        add one 00 byte to every reply\n"
           "  --version-length N  answer Read Version with N bytes (0-64, default 5)\n"
           "  --version-byte HEX  first byte of the Read Version reply (default 43)\n"
           "  --hangup-after N    close the pty after N received bytes\n"
           "  --only-baud N       answer only while the line is set to N baud (bytes at\n"
           "                      any other rate are ignored, as a real line garbles them)\n"
           "  --corrupt-write HEX store the byte that block writes put at this address\n"
           "                      (00-FF, configuration memory from 80) with bit 0 flipped\n"
           "\n"
           "  --mode command|cable-link\n"
           "                      as the carrier board's jumpers choose at power-up\n"
           "                      (default command). In cable-link mode the serial data\n"
           "                      goes over the air to the module paired with this one:\n"
           "                      same key, channel settings and RF data rate (from the\n"
           "                      configuration memory), opposite Point A/B roles\n"
           "  --air NAME          cable-link: the air shared with the other module, a\n"
           "                      socket in a folder only your user can enter:\n"
           "                      $XDG_RUNTIME_DIR/tarnwick-air-NAME, or without a\n"
           "                      private runtime folder /tmp/tarnwick-air-UID/NAME\n"
           "                      (made 0700; $TMPDIR instead of /tmp when set). Only\n"
           "                      modules of the same user share an air.\n"
           "                      Here: " + AirSocketPath("NAME") + "\n"
           "  --loopback          cable-link: the far end's DB9 transmit and receive are\n"
           "                      bridged: what is sent comes back over the air\n"
           "  --air-loss P        lose each air packet with probability P (0 to 1)\n"
           "  --air-bit-errors P  flip each payload bit with probability P (0 to 1)\n"
           "  --air-latency MS    add MS milliseconds to every air packet (0-60000)\n"
           "                      The air is paced by the RF data rate: a packet holds at\n"
           "                      most 64 bytes and 10 bytes of overhead; each sending\n"
           "                      side applies its own loss, errors and latency.\n"
           "  --help              show this text\n";
}

bool ParseVModuleOptions(const std::vector<std::string>& args, TVModuleOptions* out, std::string* error)
{
    TVModuleOptions o;
    auto bad = [&](const std::string& what) {
        if (error) *error = what;
        return false;
    };
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        bool inlineValue = false;
        if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
            inlineValue = true;
        }
        auto take = [&](std::string* v) {
            if (inlineValue) {
                *v = value;
                return true;
            }
            if (i + 1 >= args.size()) return false;
            *v = args[++i];
            return true;
        };
        auto flag = [&]() { return !inlineValue; };
        long n = 0;
        std::string v;
        if (name == "--help" || name == "-h") {
            if (!flag()) return bad(name + " takes no value");
            o.help = true;
        } else if (name == "--silent") {
            if (!flag()) return bad(name + " takes no value");
            o.faults.silent = true;
        } else if (name == "--extra-byte") {
            if (!flag()) return bad(name + " takes no value");
            o.faults.extraReplyByte = true;
        } else if (name == "--image" || name == "--link" || name == "--config-image") {
            if (!take(&v) || v.empty()) return bad(name + " needs a path");
            (name == "--image" ? o.image : name == "--link" ? o.link : o.configImage) = v;
        } else if (name == "--corrupt-write") {
            if (!take(&v) || !ParseNumber(v, 16, 0, 0xFF, &n)) return bad("--corrupt-write needs a hex address, 00 to FF");
            o.faults.corruptWriteAddress = int(n);
        } else if (name == "--delay") {
            if (!take(&v) || !ParseNumber(v, 10, 0, 60000, &n)) return bad("--delay needs milliseconds, 0 to 60000");
            o.faults.replyDelayMs = int(n);
        } else if (name == "--read-header") {
            if (!take(&v) || !ParseNumber(v, 16, 0, 0xFF, &n)) return bad("--read-header needs a hex byte, 00 to FF");
            o.faults.readFlashHeader = int(n);
        } else if (name == "--version-byte") {
            if (!take(&v) || !ParseNumber(v, 16, 0, 0xFF, &n)) return bad("--version-byte needs a hex byte, 00 to FF");
            o.faults.versionFirstByte = uint8_t(n);
        } else if (name == "--version-length") {
            if (!take(&v) || !ParseNumber(v, 10, 0, 64, &n)) return bad("--version-length needs a count, 0 to 64");
            o.faults.versionReplyLength = int(n);
        } else if (name == "--hangup-after") {
            if (!take(&v) || !ParseNumber(v, 10, 0, 1000000000L, &n)) return bad("--hangup-after needs a byte count");
            o.faults.hangUpAfterBytes = n;
        } else if (name == "--only-baud") {
            if (!take(&v) || !ParseNumber(v, 10, 1, 4000000, &n)) return bad("--only-baud needs a rate, 1 to 4000000");
            o.faults.onlyAtBaud = n;
        } else if (name == "--mode") {
            if (!take(&v) || (v != "command" && v != "cable-link")) return bad("--mode needs command or cable-link");
            o.cableLink = v == "cable-link";
        } else if (name == "--air") {
            if (!take(&v) || v.empty() || v.find('/') != std::string::npos)
                return bad("--air needs a name without '/'");
            o.air.name = v;
        } else if (name == "--loopback") {
            if (!flag()) return bad(name + " takes no value");
            o.air.loopback = true;
        } else if (name == "--air-loss" || name == "--air-bit-errors") {
            char* end = nullptr;
            const bool got = take(&v);
            const double p = got ? std::strtod(v.c_str(), &end) : -1;
            if (!got || v.empty() || *end || !(p >= 0 && p <= 1)) return bad(name + " needs a probability, 0 to 1");
            (name == "--air-loss" ? o.air.loss : o.air.bitErrors) = p;
        } else if (name == "--air-latency") {
            if (!take(&v) || !ParseNumber(v, 10, 0, 60000, &n)) return bad("--air-latency needs milliseconds, 0 to 60000");
            o.air.latencyMs = int(n);
        } else if (name == "--address") {
            if (!take(&v) || !ParseNumber(v, 16, 0, 0xFFFF, &n)) return bad("--address needs 1 to 4 hex digits");
            o.addressSet = true;
            o.address = uint16_t(n);
        } else {
            return bad("unknown option: " + args[i]);
        }
    }
    const bool airGiven = !o.air.name.empty() || o.air.loopback || o.air.loss > 0 || o.air.bitErrors > 0 ||
                          o.air.latencyMs > 0;
    if (airGiven && !o.cableLink) return bad("the --air options need --mode cable-link");
    if (o.cableLink && o.air.name.empty() == !o.air.loopback)
        return bad("--mode cable-link needs either --air NAME or --loopback");
    *out = o;
    return true;
}
