#include "services/working_set.h"

#include <malloc.h>

void SetProcessWorkingSetSize() {
  ::malloc_trim(0);
}
