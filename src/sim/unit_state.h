#pragma once

#include "protocol/unit_terms.h"

#include <array>
#include <cstdint>

namespace valve::sim {

// Everything the valve unit keeps. Tests read and preset it directly.
struct UnitState {
    static constexpr std::uint8_t kErrorStackFirst = 0x07;
    static constexpr int kErrorStackSize = 5;

    // Error codes the unit reports with "E".
    static constexpr std::uint8_t kPositioningError = 66;
    static constexpr std::uint8_t kCommandError = 77;

    int position = 1;                                   // protocol::kFirstPosition..kLastPosition
    std::uint8_t lastError = 0;                         // last error code, 0 when none
    char revision = 'C';                                // firmware revision letter
    std::uint8_t opMode = 1;                            // operational mode ("Q", "O")
    std::uint8_t commandMode = 1;                       // 1..5 ("D", "F")
    std::array<std::uint8_t, 3> portPositions{1, 2, 3}; // ports A, B, C
    std::uint8_t baudCode = 2; // "X": 1 = 9600 .. 4 = 57600; the line speed itself is not modelled
    std::uint8_t i2cAddress = 0x20;
    std::uint8_t selectedAddress = 0; // set by "I" for the next "W"
    std::array<std::uint8_t, 256> memory = defaultMemory();

    char ackCharacter = '\r';    // the one-character acknowledgement
    char replyTerminator = '\r'; // third character of a value reply

    // Records an error: it becomes the last error and is pushed onto the error
    // stack (newest entry at 0x07, the oldest one falls off).
    void recordError(std::uint8_t code) {
        lastError = code;
        for (int i = kErrorStackSize - 1; i > 0; --i) {
            memory[kErrorStackFirst + i] = memory[kErrorStackFirst + i - 1];
        }
        memory[kErrorStackFirst] = code;
    }

    static std::array<std::uint8_t, 256> defaultMemory() {
        std::array<std::uint8_t, 256> bytes{};
        bytes[protocol::kClockAddress] = 20;
        return bytes;
    }
};

} // namespace valve::sim
