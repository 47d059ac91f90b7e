// A host that loads the library and does nothing else: the start-up every host of it pays.
#include <vexcomm/outcome.h>

int main() {
  return vexcomm::OutcomeName(vexcomm::OutcomeKind::kOk).empty() ? 1 : 0;
}
