#include "sarn/app/action_tree.h"

namespace sarn {

// Built in a later change.

}  // namespace sarn
