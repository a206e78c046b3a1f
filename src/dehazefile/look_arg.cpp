// Reading a look's name.
#include "dehazefile/look_arg.h"

namespace vantorel {

LookArg ParseLook(const std::string& name) {
  LookArg arg;
  for (const Look look : {Look::kClassic, Look::kNatural}) {
    if (name == LookName(look)) {
      arg.valid = true;
      arg.look = look;
      return arg;
    }
  }
  arg.error = "look '" + name + "' is not known: it must be classic or natural";
  return arg;
}

const char* LookName(Look look) { return look == Look::kNatural ? "natural" : "classic"; }

}  // namespace vantorel
