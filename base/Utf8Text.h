#pragma once

#include <juce_core/juce_core.h>

#include <cstddef>

/** A string from bytes that should be UTF-8 but may not be. JUCE's own conversion
    trusts its input: a broken sequence makes it write past the string it allocates.
    Here every byte that does not start a complete, well-formed sequence becomes U+FFFD. */
juce::String stringFromUntrustedUtf8 (const char* text, std::size_t length);
