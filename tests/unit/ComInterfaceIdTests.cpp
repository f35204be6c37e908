// The COM interface ids as JUCE's Windows code sees them. On 32-bit MinGW this file is
// compiled with the same first header as JUCE's module files; a zero or wrong id there makes
// CreateDXGIFactory and friends fail and the program crash at start.
#define JUCE_CORE_INCLUDE_COM_SMART_PTR 1
#define JUCE_CORE_INCLUDE_NATIVE_HEADERS 1
#include <juce_core/juce_core.h>

#include <dwrite.h>
#include <dxgi.h>
#include <uiautomationcore.h>

#include <gtest/gtest.h>

namespace
{
juce::String text (const GUID& id)
{
    juce::String s;
    s << juce::String::toHexString ((juce::int64) id.Data1).paddedLeft ('0', 8) << "-"
      << juce::String::toHexString ((int) id.Data2).paddedLeft ('0', 4) << "-"
      << juce::String::toHexString ((int) id.Data3).paddedLeft ('0', 4) << "-";

    for (int i = 0; i < 8; ++i)
        s << (i == 2 ? "-" : "") << juce::String::toHexString ((int) id.Data4[i]).paddedLeft ('0', 2);

    return s;
}
} // namespace

TEST (ComInterfaceIds, AreTheSystemsOwn)
{
    const struct
    {
        const char* name;
        GUID id;
        const char* expected;
    } cases[] = {
        { "IUnknown", __uuidof(IUnknown), "00000000-0000-0000-c000-000000000046" },
        { "IDXGIFactory", __uuidof(IDXGIFactory), "7b7166ec-21c7-44ae-b21a-c9ae321ae369" },
        { "IDWriteFactory", __uuidof(IDWriteFactory), "b859ee5a-d838-4b5b-a2e8-1adc7d93db48" },
        { "IRawElementProviderSimple", __uuidof(IRawElementProviderSimple), "d6dd68d1-86fd-4332-8666-9abedea2d24c" },
    };

    for (const auto& c : cases)
        EXPECT_EQ (text (c.id), c.expected) << c.name;
}
