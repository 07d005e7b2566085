// Fresh memory costs a page fault per 4 KiB page, which on some virtual
// machines makes touching the few hundred MB of a large reduction cost
// seconds. glibc's malloc asks for transparent huge pages when its
// glibc.malloc.hugetlb tunable is 1, but tunables are read at start-up only,
// so a program that wants them starts itself again with the tunable set.
#pragma once

// Replaces the process with itself, GLIBC_TUNABLES extended by
// glibc.malloc.hugetlb=1, unless the tunable is already there or the
// environment variable VOKIP_NO_HUGE_PAGES is set. Returns only when it did
// nothing or the exec failed; the program then runs on as it is.
void restart_with_huge_pages(char** argv);
