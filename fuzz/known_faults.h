// Faults of the library that are known and being mended. Until they are, a
// fuzzer that met them would stop at the same few inputs again and again, so
// it steers clear of the inputs that would only find one of them again and
// counts them, and goes on looking for others. VELMORA_FUZZ_AVOID says which
// to steer clear of: "all" (the default), "none", or names separated by
// commas. With "none" the fuzzers find them (and the reproducers show them).
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

enum class KnownFault {
    OutputTypes,         // outputs of element types other than float are copied as if float
    BytesChannelChange,  // the 8-bit path keeps a result whose channels changed between tiles
    BytesSilentFailure,  // the 8-bit path fails with no words
    HugeArguments,       // huge tiles, channels or downscales allocate before they are checked
    DirectSizeOverflow,  // width x height x channels of a direct run overflows
    ImageChannels,       // an image with other channels than the model's is run without a word
    DeleteInCallback,    // the context deleted from inside its own progress callback
};
inline constexpr size_t kKnownFaultCount = 7;

const char* faultName(KnownFault fault);

// Which faults a VELMORA_FUZZ_AVOID value names ("all", "none", or names
// separated by commas); empty for a name it does not know.
std::optional<std::array<bool, kKnownFaultCount>> parseAvoidList(std::string_view list);

// Whether inputs that would meet `fault` are to be skipped (read once from
// the environment). Exits with a message for a name it does not know.
bool avoiding(KnownFault fault);

// Counts an input skipped for `fault`, or a result that showed it and was let
// pass; the counts are printed at exit.
void noteAvoided(KnownFault fault);
