// Private to the platform layer: marks the functions that every chunk a job
// writes runs through.
//
// Such functions are placed together. Where the kernel keeps its page tables
// apart from the program's, each system call empties the TLB, and every page
// of code a chunk touches between two writes costs a page walk.
#pragma once

#define PLATFORM_HOT __attribute__((hot))
