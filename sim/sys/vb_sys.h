// The virtual system driver ("/dev/mi_sys" and "/dev/mi_poll"): what other
// virtual drivers and tests reach directly.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "mi_common_datatype.h"

namespace vb {

// The chip's unique id answered by ReadUuid (also the "uuid <value>" verb).
void sys_set_uuid(uint64_t uuid);
uint64_t sys_uuid();

// Device memory: one real mapping standing for the board's physical memory.
// Drivers that hand out physical addresses (ring pools, frame buffers) take
// them here; MI_SYS_Mmap maps them back to the same bytes.
uint64_t sys_mem_alloc(size_t size);  // physical address, 0 when out of memory
void sys_mem_free(uint64_t phy);
void *sys_phys_to_virt(uint64_t phy);  // nullptr outside the area
uint64_t sys_mem_base();
size_t sys_mem_size();

// Depths recorded by SetChnOutputPortDepth (false when never set).
bool sys_port_depth(const MI_SYS_ChnPort_t &port, uint32_t *user_depth, uint32_t *queue_depth);

// A descriptor a driver holds for one of its ports: GetFd hands it out
// instead of opening "/dev/mi_poll". -1 forgets it.
void sys_hold_port_fd(const MI_SYS_ChnPort_t &port, int fd);
// Descriptor currently known for a port (held or recorded), -1 if none.
int sys_port_fd(const MI_SYS_ChnPort_t &port);

const char *sys_version_text();

}  // namespace vb
