#include "completions.h"

#include <utility>
#include <vector>

#include "command_line.h"

namespace {

// The option's names, "-y" and "--yes" of "-y,--yes".
std::vector<std::string> namesOf(const OptionSpec& option)
{
    std::vector<std::string> names;
    for (size_t at = 0; at <= option.names.size();) {
        const size_t end = std::min(option.names.find(',', at), option.names.size());
        names.push_back(option.names.substr(at, end - at));
        at = end + 1;
    }
    return names;
}

// The help field's first synopsis and its description, continuation lines joined.
std::pair<std::string, std::string> helpOf(const OptionSpec& option)
{
    const std::string& field = option.help.empty() ? option.fleetHelp : option.help;
    const size_t tab = field.find('\t');
    std::string description;
    for (size_t at = tab + 1; at <= field.size();) {
        const size_t end = std::min(field.find('\n', at), field.size());
        description += (description.empty() ? "" : " ") + field.substr(at, end - at);
        if (end + 1 >= field.size() || field[end + 1] != '\t')
            break;
        at = end + 2;
    }
    return {field.substr(0, tab), description};
}

// What the option's value is, from its synopsis: "files", a list of words
// ("serial network" for --method), or "" for a value typed freely.
std::string valuesOf(const OptionSpec& option)
{
    if (option.kind == OptionKind::Flag)
        return {};
    std::string words;
    const std::string& field = option.help.empty() ? option.fleetHelp : option.help;
    for (size_t at = 0; at < field.size();) {
        const size_t end = std::min(field.find('\n', at), field.size());
        const std::string synopsis = field.substr(at, std::min(field.find('\t', at), end) - at);
        const size_t space = synopsis.find_first_of(" [");
        const std::string value = space == std::string::npos ? "" : synopsis.substr(space + 1);
        if (value.find("PATH") != std::string::npos || value.find("FILE") != std::string::npos ||
            value == "DIR" || value == "REPORT")
            return "files";
        if (!value.empty() && value.find_first_not_of("abcdefghijklmnopqrstuvwxyz") == std::string::npos)
            words += (words.empty() ? "" : " ") + value;
        at = end + 1;
    }
    return words;
}

// Text for a zsh description: brackets, colons and quotes escaped.
std::string zshQuoted(const std::string& text)
{
    std::string quoted;
    for (const char c : text)
        quoted += c == '\'' ? std::string("'\\''") : c == '[' || c == ']' || c == ':' ? std::string("\\") + c
                                                                                       : std::string(1, c);
    return quoted;
}

} // namespace

std::string bashCompletion()
{
    std::string all, cases;
    for (const OptionSpec& option : optionTable()) {
        for (const std::string& name : namesOf(option))
            all += (all.empty() ? "" : " ") + name + (option.kind == OptionKind::OptionalValue ? " " + name + "=" : "");
        // Values that may be left out (--discover's ranges): options still complete after it.
        if (option.kind == OptionKind::Flag || option.kind == OptionKind::OptionalValues)
            continue;
        const std::string values = valuesOf(option);
        // An optional value is completed after its '=' only.
        cases += "    " + option.names.substr(option.names.rfind(',') + 1) + ")\n        " +
                 (option.kind == OptionKind::OptionalValue ? "[[ -n $eq ]] && " : "") +
                 (values == "files" ? "COMPREPLY=($(compgen -f -- \"$cur\"))"
                  : values.empty()  ? "COMPREPLY=()"
                                    : "COMPREPLY=($(compgen -W \"" + values + "\" -- \"$cur\"))") +
                 "\n        return ;;\n";
    }
    // '=' breaks words: "--trace=x" comes as "--trace" "=" "x".
    return "# bash completion for kt5cufirm, made from its option table\n"
           "_kt5cufirm()\n{\n"
           "    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]} eq=\n"
           "    if [[ $cur == = ]]; then cur= eq=1\n"
           "    elif [[ $prev == = ]]; then prev=${COMP_WORDS[COMP_CWORD-2]} eq=1\n    fi\n"
           "    case $prev in\n" + cases + "    esac\n"
           "    COMPREPLY=($(compgen -W \"" + all + "\" -- \"$cur\"))\n}\n"
           "complete -F _kt5cufirm kt5cufirm\n";
}

std::string zshCompletion()
{
    std::string specs;
    for (const OptionSpec& option : optionTable()) {
        const std::vector<std::string> names = namesOf(option);
        const auto [synopsis, help] = helpOf(option);
        const std::string description = "[" + zshQuoted(help) + "]";
        const std::string values = valuesOf(option);
        const std::string action = values == "files" ? "_files" : values.empty() ? " " : "(" + values + ")";
        std::string label = synopsis.substr(std::min(synopsis.find_first_of(" ["), synopsis.size()));
        label.erase(0, std::min(label.find_first_not_of(" [="), label.size()));
        label = values == "files" || values.empty() ? label.substr(0, label.find(']')) : "METHOD";
        std::string tail = description;
        if (option.kind == OptionKind::OptionalValue)
            tail = "=-" + description + "::" + label + ":" + action;
        else if (option.kind != OptionKind::Flag && option.kind != OptionKind::OptionalValues)
            tail = "=" + description + ":" + label + ":" + action;
        const std::string repeat = option.kind == OptionKind::Values ? "*" : "";
        if (names.size() == 1) {
            specs += "  '" + repeat + names[0] + tail + "' \\\n";
            continue;
        }
        specs += "  '(" + names[0] + " " + names[1] + ")'{" + names[0] + "," + names[1] + "}'" + tail + "' \\\n";
    }
    return "#compdef kt5cufirm\n# zsh completion for kt5cufirm, made from its option table\n"
           "_arguments -s \\\n" + specs + "  && return 0\n";
}
