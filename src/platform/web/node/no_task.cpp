#include <cstdio>

#include "platform/web/task.h"

namespace pyokoran {

int RunTaskHere(const std::string&) {
  std::fputs("pyokoran: under Node.js the browser build runs --simulate and --report (see --help); "
             "the task itself runs in the page (index.html).\n", stderr);
  return 2;
}

}  // namespace pyokoran
