// How the program asks for memory. A large reduction uses a few hundred MB
// of fresh arrays per image, and fresh memory is slow to touch first: a page
// fault per 4 KiB page, which on some virtual machines costs seconds.
#pragma once

// glibc's malloc asks for transparent huge pages when its glibc.malloc.hugetlb
// tunable is 1, but tunables are read at start-up only, so the program starts
// itself again with the tunable set: replaces the process with itself,
// GLIBC_TUNABLES extended by glibc.malloc.hugetlb=1, unless the tunable is
// already there or the environment variable VOKIP_NO_HUGE_PAGES is set.
// Returns only when it did nothing or the exec failed; the program then runs
// on as it is.
void restart_with_huge_pages(char** argv);

// Keeps freed memory in the process instead of handing it back to the
// system, so that each image of a batch reuses the pages the one before
// touched: every block comes from malloc's heap, whose free top is given
// back only beyond 2 GiB. The process then holds on to about the memory of
// its largest image until it ends.
void keep_freed_memory();
