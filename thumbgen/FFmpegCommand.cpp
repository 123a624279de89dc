#include "thumbgen/FFmpegCommand.h"

namespace {

constexpr const char* kIn = "%IN%";
constexpr const char* kOut = "%OUT%";

// Replaces the placeholders and "%%" from left to right; any other percent sign stays.
std::string Fill(const std::string& text, const std::string& input, const std::string& output)
{
    std::string filled;
    for (std::size_t i = 0; i < text.size();) {
        if (text.compare(i, 2, "%%") == 0) {
            filled += '%';
            i += 2;
        } else if (text.compare(i, 4, kIn) == 0) {
            filled += input;
            i += 4;
        } else if (text.compare(i, 5, kOut) == 0) {
            filled += output;
            i += 5;
        } else {
            filled += text[i++];
        }
    }
    return filled;
}

std::vector<std::string> SplitArguments(const std::string& parameterTemplate)
{
    std::vector<std::string> arguments;
    std::string current;
    bool inArgument = false, quoted = false;
    for (char c : parameterTemplate) {
        if (c == '"') {
            quoted = !quoted;
            inArgument = true;  // "" is an argument of its own, empty
        } else if (!quoted && (c == ' ' || c == '\t' || c == '\n' || c == '\r')) {
            if (inArgument)
                arguments.push_back(std::move(current));
            current.clear();
            inArgument = false;
        } else {
            current += c;
            inArgument = true;
        }
    }
    if (inArgument)
        arguments.push_back(std::move(current));
    return arguments;
}

}  // namespace

std::string CheckFFmpegTemplate(const std::string& t)
{
    // Counted exactly as the command is filled: argument by argument, "%%" before a placeholder,
    // so a template that passes always gets the clip and the output once each.
    int inputs = 0, outputs = 0;
    for (const std::string& argument : SplitArguments(t))
        for (std::size_t i = 0; i < argument.size();) {
            if (argument.compare(i, 2, "%%") == 0) {
                i += 2;
            } else if (argument.compare(i, 4, kIn) == 0) {
                ++inputs;
                i += 4;
            } else if (argument.compare(i, 5, kOut) == 0) {
                ++outputs;
                i += 5;
            } else {
                ++i;
            }
        }
    if (inputs == 0)
        return "FFmpeg parameters do not include %IN%";
    if (outputs == 0)
        return "FFmpeg parameters do not include %OUT%";
    if (inputs > 1)
        return "FFmpeg parameters contain more than one %IN%";
    if (outputs > 1)
        return "FFmpeg parameters contain more than one %OUT%";
    return {};
}

FFmpegCommand BuildFFmpegCommand(const std::string& program, const std::string& parameterTemplate,
                                 const std::string& input, const std::string& output)
{
    FFmpegCommand command;
    command.text = "\"" + program + "\" " + Fill(parameterTemplate, input, output);
    command.arguments.push_back(program);
    for (const std::string& argument : SplitArguments(parameterTemplate))
        command.arguments.push_back(Fill(argument, input, output));
    return command;
}
