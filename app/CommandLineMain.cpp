// krv-update: the command-line updater's entry point.
#include "app/CommandLineUpdater.h"
#include "platform/Terminal.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdio>

int main (int argc, char* argv[])
{
    juce::StringArray args;
    for (int i = 1; i < argc; ++i)
        args.add (juce::String::fromUTF8 (argv[i]));

    const juce::ScopedJuceInitialiser_GUI juce;
    juce::MessageManager::getInstance()->setCurrentThreadAsMessageThread();

    struct StdStream : juce::OutputStream
    {
        explicit StdStream (std::FILE* f) : file (f) {}
        void flush() override { std::fflush (file); }
        bool setPosition (juce::int64) override { return false; }
        juce::int64 getPosition() override { return 0; }
        bool write (const void* data, size_t size) override { return std::fwrite (data, 1, size, file) == size; }
        std::FILE* file;
    };
    StdStream standardOutput (stdout), standardError (stderr);
    return CommandLineUpdater::run (args, standardOutput, standardError, standardOutputIsTerminal());
}
