#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vexcomm::cli {

// The manual page vexcomm(1), in roff, made from the command table and the help texts.
std::string ManPage(std::string_view version);

// A bash completion script for vexcomm: commands, subcommands and options from the command
// table; files and folders for the options that take them.
std::string BashCompletion();

// Every text of the tables that --help shows translated: the catalogue must hold each.
std::vector<std::string> TableTexts();

}  // namespace vexcomm::cli
