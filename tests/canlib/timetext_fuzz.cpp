// libFuzzer target: time texts from arbitrary bytes. The input buffer holds
// exactly the fuzzer's bytes, so any read past the stated length is caught.
#include "timetext.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace tarvpcan3;
    const auto *text = reinterpret_cast<const char *>(data);
    const uint32_t parsed = ParseTimeText(text, size);
    if (parsed != 0 && size < kTimeTextLength)
        std::abort();

    if (size >= 8) {
        uint32_t elapsed = 0;
        std::memcpy(&elapsed, data, sizeof elapsed);
        const WallTime base{data[4], data[5], data[6], static_cast<unsigned>(data[7]) * 4};
        const std::size_t outSize = size % 16;
        char *out = outSize == 0 ? nullptr : static_cast<char *>(std::malloc(outSize));
        FormatTimeText(elapsed, base, out, outSize);
        if (out != nullptr && std::memchr(out, '\0', outSize) == nullptr)
            std::abort();
        std::free(out);
    }
    return 0;
}
