// The stored list decoder reads whatever the settings file holds: it must never crash, and whatever it
// accepts must survive its own encoding unchanged.

#include "model/TunnelProfile.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const auto profiles = decodeProfiles(input);
    if (!profiles)
        return 0;
    const QByteArray encoded = encodeProfiles(*profiles);
    const auto again = decodeProfiles(encoded);
    if (!again || *again != *profiles || encodeProfiles(*again) != encoded)
        std::abort();
    return 0;
}
