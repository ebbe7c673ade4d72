// Settings files that people may well write and that the service once replaced with an empty one: each
// holds a declaration and `root`, in one way a person or a tool writes a file. The usable ones must be
// read; the others must keep their bytes (moved aside, or left in place).
#pragma once

#include "platform/EventIds.h"
#include "tests/support/RecordingEventLog.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace ovled::test {

struct SettingsFileCase {
    const char* what;
    std::string bytes;
    bool usable;
};

inline std::string Utf16WithMark(const std::string& ascii, bool bigEndian)
{
    std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (const char c : ascii)
        bytes += bigEndian ? std::string{'\0', c} : std::string{c, '\0'};
    return bytes;
}

// `root` is the root element; it must open with "<root>".
inline std::vector<SettingsFileCase> FilesOnceReplaced(const std::string& root)
{
    const std::string declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\" ?>\n";
    const std::string inside = root.substr(std::string("<root>").size());
    std::string manyTags;
    for (int i = 0; i < 600; ++i)
        manyTags += "<a";
    return {
        {"UTF-16 with a byte-order mark", Utf16WithMark(declaration + root, false), true},
        {"big-endian UTF-16 with a byte-order mark", Utf16WithMark(declaration + root, true), true},
        {"a banner of 1200 '='", declaration + "<root><!--" + std::string(1200, '=') + "-->" + inside, true},
        {"600 '<a' in a comment", declaration + "<root><!-- " + manyTags + " -->" + inside, true},
        {"a NUL byte", declaration + "<root><!-- " + std::string(1, '\0') + " -->" + inside, false},
        {"over 4 MiB", declaration + root + "<!--" + std::string(4 * 1024 * 1024, ' ') + "-->", false},
    };
}

// The files moved aside beside `path` ("<name>.unusable-<time>.<extension>").
inline std::vector<std::filesystem::path> KeptAside(const std::filesystem::path& path)
{
    std::vector<std::filesystem::path> aside;
    const std::string prefix = path.stem().string() + ".unusable-";
    for (const auto& entry : std::filesystem::directory_iterator(path.parent_path())) {
        if (entry.path().filename().string().rfind(prefix, 0) == 0)
            aside.push_back(entry.path());
    }
    return aside;
}

// Expects the file at `path` to have been moved aside once, with `bytes`, and the event log to say where.
inline void ExpectKeptAsideOnce(const std::filesystem::path& path, const std::string& bytes, RecordingEventLog& events)
{
    const auto aside = KeptAside(path);
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(ReadText(aside[0]), bytes);
    const auto reported = events.Events();
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_EQ(reported[0].id, events::kSettingsKeptAside);
    ASSERT_EQ(reported[0].inserts.size(), 3u);
    EXPECT_EQ(reported[0].inserts[0], path.wstring());
    EXPECT_EQ(reported[0].inserts[2], aside[0].wstring()) << "the event says where it went";
}

} // namespace ovled::test
