#pragma once
#include <string>
#include <vector>

// The ffmpeg command made from the parameter template, whose "%IN%" stands for the clip and
// "%OUT%" for the picture to write; "%%" stands for one percent sign.
struct FFmpegCommand {
    std::string text;                    // for the log: "\"<program>\" " + the filled template
    std::vector<std::string> arguments;  // program first; each argument filled on its own
};

// The log message for a template that cannot be used, or "" when it is fine.
std::string CheckFFmpegTemplate(const std::string& parameterTemplate);

// The template is split into arguments at blanks outside double quotes first (the quotes group
// and are dropped), then the placeholders are filled inside each argument: a clip path with
// blanks, quotes or a leading dash stays one argument and can never add or change another.
FFmpegCommand BuildFFmpegCommand(const std::string& program, const std::string& parameterTemplate,
                                 const std::string& input, const std::string& output);
