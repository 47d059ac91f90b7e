#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace vexcomm::cli {

// Marks a text of a table for the catalogue; Tr translates it where it is shown.
#define N_(text) text

// The program's own text in the user's language (LANGUAGE, LC_ALL, LC_MESSAGES, LANG), the
// English source where the catalogue has none. The component's texts are never passed here.
std::string Tr(std::string_view english);

// The form of `singular`/`plural` for `n` in the user's language.
std::string TrN(std::string_view singular, std::string_view plural, unsigned long n);

// "%1 quote"/"%1 quotes" for `n`, translated, with the number in.
std::string Counted(unsigned long n, std::string_view singular, std::string_view plural);

// `pattern` with %1, %2 … replaced by `values`, so that a translation may reorder them.
std::string Fill(std::string_view pattern, std::initializer_list<std::string_view> values);

// Binds the catalogue: the build tree's next to the program, else the installed one. Once, at
// the start; only the messages follow the locale, numbers and character classes stay "C".
void InitMessages();

}  // namespace vexcomm::cli
