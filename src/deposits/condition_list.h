#pragma once

#include <string>

#include <vexcomm/deposits.h>

#include "platform/number_text.h"

namespace vexcomm::deposits {

// Which reply a condition list came in: it decides the product head's length and the class
// of the rate entries.
enum class ConditionKind { Tagesgeld, Festgeld };

// Parses a condition list ("#" providers, "*" products, "~" rates, "|" fields) and appends the
// providers to `anbieter`, each only when it is complete. The tree keeps the list's text, from
// which its nodes read their texts. Throws vexcomm::Error at the first failure (9 for a missing
// item or field, 13/6 for a bad rate-tier integer); the providers appended before it stay.
// Linear in the length of the list.
void ParseConditionList(std::string list, ConditionKind kind, colTGAnbieter& anbieter,
                        const platform::NumericSeparators& separators);
// The same with the separators of the process locale.
void ParseConditionList(std::string list, ConditionKind kind, colTGAnbieter& anbieter);

}  // namespace vexcomm::deposits
