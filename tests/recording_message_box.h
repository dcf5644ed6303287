// A MessageBoxA that records what it was shown and the floating-point state
// it ran under, and then disturbs that state as careless code would.
#ifndef KORIMBA_TESTS_RECORDING_MESSAGE_BOX_H
#define KORIMBA_TESTS_RECORDING_MESSAGE_BOX_H

#include <cstdint>
#include <string>

struct RecordedBox {
    int calls = 0;
    std::string caption;
    std::string text;
    unsigned type = ~0u;
    bool has_owner = false;
    std::uint16_t x87_control = 0;
    std::uint16_t x87_status = 0;
    std::uint16_t x87_tag = 0;
    std::uint32_t mxcsr = 0;
};

extern RecordedBox recorded_box;

#endif
