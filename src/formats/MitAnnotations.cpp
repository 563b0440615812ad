#include "formats/MitAnnotations.h"

namespace {

// Pseudo-codes of the format's 16-bit words: the high 6 bits.
constexpr int kSkip = 59, kNum = 60, kSub = 61, kChn = 62, kAux = 63;

void PutWord(std::string& out, unsigned v)
{
    out += char(v & 0xFF);
    out += char((v >> 8) & 0xFF);
}

}  // namespace

std::string EncodeMitAnnotations(const std::vector<MitAnnotation>& annotations)
{
    std::string out;
    uint64_t previous = 0;
    int channel = 0;
    for (const MitAnnotation& a : annotations) {
        uint64_t step = a.sample >= previous ? a.sample - previous : 0;
        // A step beyond 10 bits goes first as a SKIP with a 32-bit count,
        // high half first.
        while (step > 1023) {
            const uint64_t part = step > 0x7FFFFFFF ? 0x7FFFFFFF : step;
            PutWord(out, unsigned(kSkip) << 10);
            PutWord(out, unsigned(part >> 16));
            PutWord(out, unsigned(part & 0xFFFF));
            step -= part;
        }
        PutWord(out, (unsigned(a.code & 0x3F) << 10) | unsigned(step));
        if (a.subtype != 0)
            PutWord(out, (unsigned(kSub) << 10) | unsigned(a.subtype & 0xFF));
        if (a.channel != channel) {
            PutWord(out, (unsigned(kChn) << 10) | unsigned(a.channel & 0xFF));
            channel = a.channel;
        }
        if (!a.aux.empty()) {
            const size_t n = a.aux.size() > 255 ? 255 : a.aux.size();
            PutWord(out, (unsigned(kAux) << 10) | unsigned(n));
            out.append(a.aux, 0, n);
            if (n % 2)
                out += '\0';
        }
        previous = a.sample;
    }
    PutWord(out, 0);
    return out;
}

bool DecodeMitAnnotations(const std::string& bytes, std::vector<MitAnnotation>* out)
{
    out->clear();
    size_t i = 0;
    uint64_t time = 0, pendingSkip = 0;
    int channel = 0;
    const auto word = [&](unsigned* w) {
        if (i + 2 > bytes.size())
            return false;
        *w = unsigned(uint8_t(bytes[i])) | unsigned(uint8_t(bytes[i + 1])) << 8;
        i += 2;
        return true;
    };
    for (;;) {
        unsigned w = 0;
        if (!word(&w))
            return false;  // no end word
        const int code = int(w >> 10);
        const unsigned value = w & 0x3FF;
        if (w == 0)
            return true;
        switch (code) {
        case kSkip: {
            unsigned hi = 0, lo = 0;
            if (!word(&hi) || !word(&lo))
                return false;
            pendingSkip += (uint64_t(hi) << 16) | lo;
            break;
        }
        case kNum:
            break;
        case kSub:
            if (out->empty())
                return false;
            out->back().subtype = int(int8_t(uint8_t(value)));
            break;
        case kChn:
            channel = int(value & 0xFF);
            if (!out->empty())
                out->back().channel = channel;
            break;
        case kAux:
            if (out->empty() || i + value > bytes.size())
                return false;
            out->back().aux.assign(bytes, i, value);
            i += value + (value % 2);
            break;
        default:
            if (code == 0 || code > 49)
                return false;
            time += pendingSkip + value;
            pendingSkip = 0;
            MitAnnotation a;
            a.sample = time;
            a.code = code;
            a.channel = channel;
            out->push_back(std::move(a));
        }
    }
}
