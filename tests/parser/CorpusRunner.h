// Replays an expectation file (tests/data/expected/*.txt): each line names a
// query, and the runner answers it from our parser in the same words, so a
// test compares the two lines.
#pragma once

#include <windows.h>
#include <hidpddi.h>
#include <hidpi.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

class CorpusRunner
{
public:
    explicit CorpusRunner(std::vector<uint8_t> descriptor);
    ~CorpusRunner();
    CorpusRunner(const CorpusRunner&) = delete;
    CorpusRunner& operator=(const CorpusRunner&) = delete;

    // Our answer to the query an expected line makes.
    std::string answer(const std::string& expected);

private:
    std::string tlcAnswer(std::istringstream& in);
    std::string capsAnswer(int tlc, HIDP_REPORT_TYPE type, const std::string& kind, std::istringstream& in);
    std::string reportAnswer(int tlc, const std::string& call, std::istringstream& in);
    PHIDP_PREPARSED_DATA preparsed(int tlc) const;

    std::vector<uint8_t> m_descriptor;
    HIDP_DEVICE_DESC m_desc{};
    NTSTATUS m_status;
    std::vector<uint8_t> m_report;
};
