// Real devices' descriptors (tests/data/descriptors, origin in MANIFEST.tsv)
// against the caps and extracted values the reference parser gave for them
// (tests/data/expected).
#include "CorpusRunner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace
{

namespace fs = std::filesystem;

const fs::path kData = KV_TEST_DATA;

// Hex bytes; '#' starts a comment that runs to the end of the line.
std::vector<uint8_t> readHex(const fs::path& path)
{
    std::ifstream file(path);
    std::vector<uint8_t> bytes;
    std::string line;
    while (std::getline(file, line))
    {
        std::istringstream words(line.substr(0, line.find('#')));
        std::string word;
        while (words >> word)
            bytes.push_back(static_cast<uint8_t>(std::stoul(word, nullptr, 16)));
    }
    return bytes;
}

std::vector<std::string> expectedNames()
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(kData / "expected"))
        if (entry.path().extension() == ".txt")
            names.push_back(entry.path().stem().string());
    std::sort(names.begin(), names.end());
    return names;
}

class ParserCorpus : public ::testing::TestWithParam<std::string>
{
};

} // namespace

TEST_P(ParserCorpus, MatchesTheReferenceParser)
{
    const std::vector<uint8_t> descriptor = readHex(kData / "descriptors" / (GetParam() + ".hex"));
    ASSERT_FALSE(descriptor.empty());
    CorpusRunner runner(descriptor);
    std::ifstream expected(kData / "expected" / (GetParam() + ".txt"));
    std::string line;
    int checked = 0, failures = 0;
    while (std::getline(expected, line))
    {
        if (line.empty() || line[0] == '#')
            continue;
        ++checked;
        const std::string ours = runner.answer(line);
        if (ours != line && ++failures <= 10)
            ADD_FAILURE() << "expected: " << line << "\n     ours: " << ours;
    }
    EXPECT_EQ(failures, 0);
    EXPECT_GT(checked, 10);
}

INSTANTIATE_TEST_SUITE_P(Devices, ParserCorpus, ::testing::ValuesIn(expectedNames()),
                         [](const ::testing::TestParamInfo<std::string>& info)
                         {
                             std::string name = info.param;
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return name;
                         });
