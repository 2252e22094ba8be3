#include "MonOptions.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace
{
std::optional<uint64_t> ParseUnsigned(const std::string& text, uint64_t max)
{
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    if (digits.empty() ||
        digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") != std::string::npos)
        return std::nullopt;
    errno = 0;
    const unsigned long long value = std::strtoull(digits.c_str(), nullptr, hex ? 16 : 10);
    if (errno == ERANGE || value > max)
        return std::nullopt;
    return value;
}

// The option's argument, or an error when it is missing.
const std::string* NextArgument(const std::vector<std::string>& args, size_t& i, std::string& error)
{
    if (i + 1 >= args.size())
    {
        error = "option " + args[i] + " needs a value";
        return nullptr;
    }
    return &args[++i];
}
} // namespace

std::optional<uint32_t> ParseDeviceId(const std::string& text)
{
    const std::optional<uint64_t> value = ParseUnsigned(text, UINT32_MAX);
    if (!value)
        return std::nullopt;
    return static_cast<uint32_t>(*value);
}

const char* CMonOptions::Usage()
{
    return "usage: kvhidmon [options] list | caps ID | watch [ID...]\n"
           "  list            every device of every source: identifier, source, name, inputs\n"
           "  caps ID         the capability table of one device (ID decimal or 0x hex)\n"
           "  watch [ID...]   a live view of the devices' values (all devices when no ID is given)\n"
           "options:\n"
           "  --json          one JSON object per line instead of text or the live view\n"
           "  --duration S    end after S seconds (watch)\n"
           "  --demo          run a built-in scenario on the simulated PC (native build; its default)\n"
           "  --seed N        the demo scenario's seed (default 1)\n"
           "  --demo-service-refuses  the demo's filtering service refuses the library's connection\n"
           "  --demo-load N   N more gamepads in the demo, 1000 reports a second each (measurements)\n"
           "  --stats         at the end of watch: redraws a second and the monitor thread's CPU time\n"
           "  --help          this text\n";
}

bool CMonOptions::ParseOption(const std::vector<std::string>& args, size_t& i, std::string& error)
{
    const std::string& option = args[i];
    if (option == "--json")
        json = true;
    else if (option == "--demo")
        demo = true;
    else if (option == "--demo-service-refuses")
        demo = demoServiceRefuses = true;
    else if (option == "--stats")
        stats = true;
    else if (option == "--demo-load")
    {
        const std::string* text = NextArgument(args, i, error);
        if (!text)
            return false;
        const std::optional<uint64_t> value = ParseUnsigned(*text, 60);
        if (!value)
        {
            error = "--demo-load needs a number of devices from 0 to 60, not '" + *text + "'";
            return false;
        }
        demo = true;
        demoLoad = static_cast<uint32_t>(*value);
    }
    else if (option == "--help" || option == "-h")
        m_helpAsked = true;
    else if (option == "--duration")
    {
        const std::string* text = NextArgument(args, i, error);
        if (!text)
            return false;
        char* end = nullptr;
        const double seconds = std::strtod(text->c_str(), &end);
        if (text->empty() || *end != '\0' || !std::isfinite(seconds) || seconds <= 0 || seconds > 1e6)
        {
            error = "--duration needs a positive number of seconds, not '" + *text + "'";
            return false;
        }
        durationSeconds = seconds;
    }
    else if (option == "--seed")
    {
        const std::string* text = NextArgument(args, i, error);
        if (!text)
            return false;
        const std::optional<uint64_t> value = ParseUnsigned(*text, UINT32_MAX);
        if (!value)
        {
            error = "--seed needs a number from 0 to 4294967295, not '" + *text + "'";
            return false;
        }
        seed = static_cast<uint32_t>(*value);
    }
    else
    {
        error = "unknown option '" + option + "'";
        return false;
    }
    return true;
}

std::optional<CMonOptions> CMonOptions::Parse(const std::vector<std::string>& args, std::string& error)
{
    CMonOptions options;
    std::vector<std::string> words;
    for (size_t i = 0; i < args.size(); ++i)
    {
        if (args[i].rfind("-", 0) != 0)
        {
            words.push_back(args[i]);
            continue;
        }
        if (!options.ParseOption(args, i, error))
            return std::nullopt;
    }
    if (options.m_helpAsked)
        return options;
    if (words.empty())
    {
        error = "no command given (list, caps ID or watch [ID...]; --help for more)";
        return std::nullopt;
    }
    const std::string& command = words[0];
    if (command == "list")
        options.command = MonCommand::List;
    else if (command == "caps")
        options.command = MonCommand::Caps;
    else if (command == "watch")
        options.command = MonCommand::Watch;
    else
    {
        error = "unknown command '" + command + "' (list, caps ID or watch [ID...])";
        return std::nullopt;
    }
    for (size_t i = 1; i < words.size(); ++i)
    {
        const std::optional<uint32_t> id = ParseDeviceId(words[i]);
        if (!id)
        {
            error = "'" + words[i] + "' is not a device identifier (decimal or 0x hex)";
            return std::nullopt;
        }
        options.ids.push_back(*id);
    }
    if (options.command == MonCommand::List && !options.ids.empty())
    {
        error = "list takes no identifier";
        return std::nullopt;
    }
    if (options.command == MonCommand::Caps && options.ids.size() != 1)
    {
        error = "caps needs exactly one device identifier";
        return std::nullopt;
    }
    if (options.durationSeconds && options.command != MonCommand::Watch)
    {
        error = "--duration applies to watch only";
        return std::nullopt;
    }
    return options;
}
