// Script method asking the system to take back memory the program no longer uses.
#pragma once

// Returns the heap's free memory to the system (malloc_trim). Nothing is reported.
void SetProcessWorkingSetSize();
