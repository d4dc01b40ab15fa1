#include "fleet_retry.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>

#include "host_address.h"

namespace {

void skipSpace(const std::string& text, size_t* at)
{
    while (*at < text.size() && std::isspace(static_cast<unsigned char>(text[*at])))
        ++*at;
}

// A JSON string at text[*at] (its opening quote); the escapes the report writes.
std::optional<std::string> readString(const std::string& text, size_t* at)
{
    if (*at >= text.size() || text[*at] != '"')
        return std::nullopt;
    std::string value;
    for (++*at; *at < text.size(); ++*at) {
        const char c = text[*at];
        if (c == '"') {
            ++*at;
            return value;
        }
        if (c != '\\') {
            value += c;
            continue;
        }
        if (++*at >= text.size())
            return std::nullopt;
        if (text[*at] == 'u') {
            if (*at + 4 >= text.size())
                return std::nullopt;
            value += static_cast<char>(std::stoi(text.substr(*at + 1, 4), nullptr, 16) & 0xFF);
            *at += 4;
        } else {
            value += text[*at];
        }
    }
    return std::nullopt;
}

// A value: a string, null (nothing), or a number or word as written.
bool readValue(const std::string& text, size_t* at, std::optional<std::string>* value)
{
    if (*at < text.size() && text[*at] == '"') {
        *value = readString(text, at);
        return value->has_value();
    }
    const size_t start = *at;
    while (*at < text.size() && text[*at] != ',' && text[*at] != '}' &&
           !std::isspace(static_cast<unsigned char>(text[*at])))
        ++*at;
    const std::string word = text.substr(start, *at - start);
    if (word.empty())
        return false;
    *value = word == "null" ? std::nullopt : std::optional<std::string>(word);
    return true;
}

// The unit one report line names.
bool unitOfLine(const ReportFields& fields, FleetHost* host)
{
    const auto field = [&fields](const char* name) {
        const auto found = fields.find(name);
        return found != fields.end() && found->second ? *found->second : std::string();
    };
    if (!field("port").empty()) {
        host->serialPort = field("port");
        const std::string& port = host->serialPort;
        if (port.size() > 3 && port.compare(0, 3, "COM") == 0)
            host->com = parseNumber(port.substr(3), 1, 99999999).value_or(0);
        return true;
    }
    host->host = !field("address").empty() ? field("address") : field("host");
    const auto tcpPort = parseNumber(field("tcp_port"), 1, 65535);
    if (host->host.empty() || !tcpPort)
        return false;
    host->tcpPort = *tcpPort;
    return true;
}

} // namespace

std::optional<ReportFields> parseReportFields(const std::string& line)
{
    ReportFields fields;
    size_t at = 0;
    skipSpace(line, &at);
    if (at >= line.size() || line[at++] != '{')
        return std::nullopt;
    for (bool first = true;; first = false) {
        skipSpace(line, &at);
        if (first && at < line.size() && line[at] == '}')
            break;
        const std::optional<std::string> name = readString(line, &at);
        skipSpace(line, &at);
        if (!name || at >= line.size() || line[at++] != ':')
            return std::nullopt;
        skipSpace(line, &at);
        std::optional<std::string> value;
        if (!readValue(line, &at, &value))
            return std::nullopt;
        fields[*name] = value;
        skipSpace(line, &at);
        if (at < line.size() && line[at] == ',') {
            ++at;
            continue;
        }
        if (at >= line.size() || line[at] != '}')
            return std::nullopt;
        break;
    }
    skipSpace(line, &++at);
    return at >= line.size() ? std::optional<ReportFields>(fields) : std::nullopt;
}

bool retryUnitsOf(const std::string& text, const std::string& fileName, std::vector<FleetHost>* hosts,
                  std::string* error)
{
    int number = 0;
    for (size_t at = 0; at < text.size();) {
        const size_t end = std::min(text.find('\n', at), text.size());
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        ++number;
        if (line.find_first_not_of(" \t\r") == std::string::npos)
            continue;
        const std::optional<ReportFields> fields = parseReportFields(line);
        FleetHost host;
        host.line = number;
        const auto result = fields ? fields->find("result") : ReportFields::const_iterator{};
        if (!fields || result == fields->end() || !result->second || !unitOfLine(*fields, &host)) {
            *error = "--retry " + fileName + ": line " + std::to_string(number) + " is not a unit of a fleet's report";
            return false;
        }
        if (*result->second != "complete" && *result->second != "skipped")
            hosts->push_back(host);
    }
    return true;
}

bool readRetryUnits(const std::string& path, std::vector<FleetHost>* hosts, std::string* error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "--retry " + path + ": the report cannot be read";
        return false;
    }
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    return retryUnitsOf(text, path, hosts, error);
}
