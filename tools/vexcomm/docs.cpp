#include "docs.h"

#include <algorithm>
#include <map>
#include <set>
#include <sstream>
#include <vector>

#include "command_line.h"
#include "exit_codes.h"
#include "settings.h"

namespace vexcomm::cli {
namespace {

// Text as roff shows it: a backslash written out, a line never starting as a request.
std::string Roff(std::string_view text) {
  std::string out;
  bool line_start = true;
  for (char c : text) {
    if (line_start && (c == '.' || c == '\'')) out += "\\&";
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-') {
      out += "\\-";
    } else {
      out += c;
    }
    line_start = c == '\n';
  }
  return out;
}

// A name in bold, followed by what it takes in italics.
std::string Bold(std::string_view name, std::string_view value) {
  if (value.empty()) return ".B " + Roff(name);
  return ".BI \"" + Roff(name) + " \" \"" + Roff(value) + "\"";
}

void Options(std::ostringstream& out, const std::vector<OptionDef>& options) {
  for (const auto& o : options) {
    out << ".TP\n" << Bold(o.name, o.value_name) << "\n" << Roff(o.help) << "\n";
  }
}

std::string Words(const std::set<std::string>& words) {
  std::string joined;
  for (const auto& w : words) joined += (joined.empty() ? "" : " ") + w;
  return joined;
}

// The option words of `options`; those taking a value into `valued`, by the kind of value.
std::string OptionWords(const std::vector<OptionDef>& options) {
  std::set<std::string> words;
  for (const auto& o : options) words.insert(std::string(o.name));
  return Words(words);
}

}  // namespace

std::string ManPage(std::string_view version) {
  std::ostringstream out;
  out << ".TH VEXCOMM 1 \"\" \"vexcomm " << Roff(version) << "\" \"User Commands\"\n"
      << ".SH NAME\nvexcomm \\- run the operations of the VexComm5 component against a VEXMSG "
         "server\n"
      << ".SH SYNOPSIS\n.B vexcomm\n[\\fIGLOBAL OPTIONS\\fR] \\fICOMMAND\\fR [\\fIOPTIONS\\fR] "
         "[\\fIARGUMENTS\\fR]\n.br\n.B vexcomm \\-\\-version\n.br\n.B vexcomm\n[\\fICOMMAND\\fR] "
         "\\-\\-help\n"
      << ".SH DESCRIPTION\nRuns the operations of the VexComm5 component against a VEXMSG server, "
         "as the home\\-banking application does, and keeps the installation's identity record "
         "and quote database.\n"
      << ".SH COMMANDS\n";
  for (const auto& c : Commands()) {
    out << ".TP\n" << Bold(c.name, c.arguments) << "\n" << Roff(c.summary);
    if (c.modus != 0) out << " (operation " << c.modus << ")";
    out << ".\n";
    if (!c.details.empty()) out << Roff(c.details) << "\n";
    std::vector<OptionDef> options = c.options;
    // The global --out names the file a chart is written to.
    if (c.name == "db chart") {
      options.push_back({"--out", "FILE", "the chart to write: FILE.svg, or FILE.png"});
    }
    if (!options.empty()) {
      out << ".RS\n";
      Options(out, options);
      out << ".RE\n";
    }
  }
  out << ".SH GLOBAL OPTIONS\nThey may stand anywhere on the line.\n";
  Options(out, GlobalOptionList());
  out << ".SH ENVIRONMENT\n";
  for (const auto& v : EnvironmentVariables()) {
    out << ".TP\n.B " << Roff(v.names) << "\n" << Roff(v.help) << "\n";
  }
  out << ".SH FILES\n.TP\n.I $XDG_CONFIG_HOME/vexcomm/config\n"
         "(else \\fI~/.config/vexcomm/config\\fR) Settings below the command line and the "
         "environment, in INI form: section \\fB[connection]\\fR with the keys ca\\-file, "
         "proxy, proxy\\-user, no\\-proxy, connect\\-to, connect\\-timeout and idle\\-timeout, "
         "section \\fB[output]\\fR with the key out. \\fBvexcomm config show\\fR prints the "
         "settings in effect and where each comes from.\n"
      << ".SH EXIT STATUS\n";
  for (const auto& e : kExitCodes) {
    out << ".TP\n.B " << e.code << "\n" << Roff(e.meaning) << "\n";
  }
  out << ".SH JSON\nWith \\fB\\-\\-json\\fR, standard output carries one JSON object a line: "
         "events as they happen (\\fB{\"event\": ...}\\fR), then exactly one result line, "
         "failures included:\n"
         ".PP\n.nf\n"
         "{\"schema\": 1, \"command\": \"quotes\", \"result\": {...}, \"error\": null}\n"
         "{\"schema\": 1, \"command\": \"db show\", \"result\": null,\n"
         " \"error\": {\"status\": 1, \"class\": \"failed\", \"message\": \"...\"}}\n"
         ".fi\n.PP\n"
         "\\fBerror.status\\fR is the exit status, \\fBerror.class\\fR names the cause "
         "(usage, network_refused, certificate_refused, server_error, local, ...) and "
         "\\fBerror.message\\fR is the line shown on standard error. \\fBschema\\fR grows "
         "when a name changes or goes, not when one is added. Notes and the progress bar go to "
         "standard error.\n"
      << ".SH EXAMPLES\n"
         "Set the installation's identity once, then fetch the new messages into a folder:\n"
         ".PP\n.nf\n"
         "vexcomm user set \\-\\-blz 12345678 \\-\\-kunden\\-nr 4711\n"
         "vexcomm \\-\\-out ~/Nachrichten get\\-new\n"
         ".fi\n.PP\n"
         "Fetch the quotes of the stocks in a CSV file and store them, then chart them:\n"
         ".PP\n.nf\n"
         "vexcomm quotes \\-\\-stocks aktien.csv \\-\\-write\\-db\n"
         "vexcomm db show\n"
         "vexcomm \\-\\-out kurse.svg db chart 716460\n"
         ".fi\n.PP\n"
         "In a script, the cause of a failure from the result line:\n"
         ".PP\n.nf\n"
         "vexcomm \\-\\-json check\\-new | tail \\-n 1 | jq \\-r \'.error.class // \"ok\"\'\n"
         ".fi\n.PP\n"
         "Try everything against a local server with made\\-up data:\n"
         ".PP\n.nf\n"
         "vexcomm demo\n"
         ".fi\n"
      << ".SH SEE ALSO\n.BR vexmsg\\-server (1),\n.BR curl (1)\n";
  return out.str();
}

std::string BashCompletion() {
  std::set<std::string> top{"help"};
  std::set<std::string> dirs, files, values, codes;
  std::ostringstream cases;
  std::map<std::string, std::set<std::string>> groups;
  auto classify = [&](const OptionDef& o) {
    if (o.value_name.empty()) return;
    (o.value_name == "DIR"    ? dirs
     : o.value_name == "FILE" ? files
                              : values)
        .insert(std::string(o.name));
  };
  for (const auto& o : GlobalOptionList()) classify(o);
  for (const auto& c : Commands()) {
    const std::string name(c.name);
    const auto space = name.find(' ');
    top.insert(name.substr(0, space));
    if (space != std::string::npos) groups[name.substr(0, space)].insert(name.substr(space + 1));
    for (const auto& o : c.options) classify(o);
    if (c.modus != 0) codes.insert(std::to_string(c.modus));
    cases << "    \"" << name << "\") opts=\"" << OptionWords(c.options) << "\" ;;\n";
  }
  std::set<std::string> valued = dirs;
  valued.insert(files.begin(), files.end());
  valued.insert(values.begin(), values.end());
  auto alternatives = [](const std::set<std::string>& words) {
    std::string joined;
    for (const auto& w : words) joined += (joined.empty() ? "" : "|") + w;
    return joined;
  };

  std::ostringstream out;
  out << "# bash completion for vexcomm; made from its command table.\n"
      << "_vexcomm() {\n"
      << "  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}\n"
      << "  COMPREPLY=()\n"
      << "  local cmd= i word\n"
      << "  for ((i = 1; i < COMP_CWORD; i++)); do\n"
      << "    word=${COMP_WORDS[i]}\n"
      << "    case $word in\n"
      << "      " << alternatives(valued) << ") ((i++)); continue ;;\n"
      << "      -*) continue ;;\n"
      << "    esac\n"
      << "    if [[ -z $cmd ]]; then cmd=$word\n";
  for (const auto& [group, subs] : groups) {
    out << "    elif [[ $cmd == " << group << " ]]; then cmd=\"" << group << " $word\"\n";
  }
  out << "    fi\n"
      << "  done\n"
      // db chart writes the file --out names: folders and files.
      << "  case $cmd:$prev in\n"
      << "    \"db chart:--out\") mapfile -t COMPREPLY < <(compgen -f -- \"$cur\"); return ;;\n"
      << "  esac\n"
      << "  case $prev in\n"
      << "    " << alternatives(dirs)
      << ") mapfile -t COMPREPLY < <(compgen -d -- \"$cur\"); return ;;\n"
      << "    " << alternatives(files)
      << ") mapfile -t COMPREPLY < <(compgen -f -- \"$cur\"); return ;;\n"
      << "    " << alternatives(values) << ") return ;;\n"
      << "  esac\n"
      << "  local opts=\n"
      << "  case $cmd in\n"
      << cases.str() << "  esac\n"
      << "  if [[ $cur == -* ]]; then\n"
      << "    COMPREPLY=($(compgen -W \"$opts " << OptionWords(GlobalOptionList())
      << " --help\" -- \"$cur\"))\n"
      << "    return\n"
      << "  fi\n"
      << "  case $cmd in\n"
      << "    \"\" | help) COMPREPLY=($(compgen -W \"" << Words(top) << "\" -- \"$cur\")) ;;\n";
  for (const auto& [group, subs] : groups) {
    out << "    " << group << ") COMPREPLY=($(compgen -W \"" << Words(subs)
        << "\" -- \"$cur\")) ;;\n";
  }
  out << "    run) COMPREPLY=($(compgen -W \"" << Words(codes) << "\" -- \"$cur\")) ;;\n"
      << "    *) mapfile -t COMPREPLY < <(compgen -f -- \"$cur\") ;;\n"
      << "  esac\n"
      << "}\n"
      // One name a line, blanks kept; -o filenames quotes them and gives a folder its "/".
      << "complete -o filenames -F _vexcomm vexcomm\n";
  return out.str();
}

std::vector<std::string> TableTexts() {
  std::vector<std::string> texts;
  const auto add = [&texts](std::string_view text) {
    if (!text.empty()) texts.emplace_back(text);
  };
  for (const auto& c : Commands()) {
    add(c.summary);
    add(c.details);
    for (const auto& o : c.options) add(o.help);
  }
  for (const auto& o : GlobalOptionList()) add(o.help);
  for (const auto& e : kExitCodes) add(e.meaning);
  for (const auto& v : EnvironmentVariables()) add(v.help);
  std::sort(texts.begin(), texts.end());
  texts.erase(std::unique(texts.begin(), texts.end()), texts.end());
  return texts;
}

}  // namespace vexcomm::cli
