// Test controls of the native platform: what the Windows build takes from the
// operating system, tests set here (clock, executable path, command line,
// registry, application-data folder, other processes, the real socket calls).
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/net.h"
#include "platform/platform.h"

namespace platform::test {

// Clock: a set clock stays where it is put until moved; use_real_clock undoes it.
void set_clock(uint32_t seconds);
void advance_clock(uint32_t seconds);
void use_real_clock();
// Moves the monotonic clock forward (it never goes back), as a stalled thread
// would see it.
void advance_monotonic(uint64_t ms);
// Stops the monotonic clock where it is: from then on only advance_monotonic
// moves it.  use_running_monotonic lets it run again from there on.
void hold_monotonic();
void use_running_monotonic();
// Runs hook at the start of every wait_readable and wait_writable, on the waiting thread (an
// empty function removes it): lets a test act in the middle of an exchange.
void set_wait_hook(std::function<void()> hook);
// Replaces the receive of stream sockets (an empty function restores the
// real one): a test sees how the reader copes with what a platform may do.
using stream_receive_fn = std::function<int(socket_handle s, void* buffer, size_t size)>;
void set_stream_receive(stream_receive_fn fn);
// Replaces the send of stream sockets (an empty function restores the real
// one): a test paces what a peer takes on its own clock.
using stream_send_fn = std::function<int(socket_handle s, const void* data, size_t length)>;
void set_stream_send(stream_send_fn fn);
// Datagrams that the library sends to port `from`, and stream connections it
// makes to it, go to port `to` instead (to 0 removes the mapping), so tests
// meet the library's fixed service ports (80, 29950, 29951, 29960, ...) on
// ports the system gave them, and two test runs on one machine never meet.
void map_send_port(uint16_t from, uint16_t to);
// resolve_ipv4 answers every name with these addresses (network order); an
// empty list hands names to the machine's resolver again.
void set_resolved_addresses(const std::vector<uint32_t>& addresses);

// nullptr makes executable_path fail.
void set_executable_path(const char* path);
void set_command_line(const char* line);

// In-memory registry; a root has the product key once any value is set in it
// or create_product_key is called.
void registry_reset();
void registry_create_product_key(registry_root root);
void registry_set(registry_root root, const char* name, uint32_t type, const void* data,
                  uint32_t size);
void registry_set_dword(registry_root root, const char* name, uint32_t value);
void registry_set_string(registry_root root, const char* name, const std::string& value);
void registry_delete(registry_root root, const char* name);

// Application-data folder; nullptr makes the query fail.  Default: a folder
// under the system's temporary directory.
void set_appdata_folder(const char* path);

// The disk, for crash points: from the limit-th change on (a file created,
// written, moved, replaced or removed, or opened for writing) no change
// happens any more and each fails, as though the process had been killed
// there; -1 lifts the limit.  Setting it starts the count again.
void set_file_change_limit(long limit);
long file_changes_made();
// Whether a change was refused since the limit was set: the process died.
bool disk_stopped();
// A power cut: every file written through a stream (never flushed to the
// disk) comes back empty, also under the name it was moved to since.
void power_cut();
// Runs hook (with the native path of the file a change is about to touch)
// before every change to the disk, on the changing thread: another process
// acting at that moment.  An empty function removes it.
void set_file_change_hook(std::function<void(const std::string& target)> hook);
// A full disk: files can be created but no bytes written to them.
void set_disk_full(bool full);
// With false, what the library flushes counts as on the disk (for a power
// cut) without asking the system to flush it: for tests that change the
// disk thousands of times.
void set_real_disk_syncs(bool real);

// Image names of other processes; a pid without a name cannot be opened.
void set_process_image_name(uint32_t pid, const char* name);
void clear_process_image_names();
// With true, a pid without a name set here counts as running while the
// system has a process of that id (forked test processes see each other).
void use_real_processes(bool use);

// Replaces the real receive and send functions; nullptr restores the BSD ones.
void set_real_recvfrom(recvfrom_fn fn);
void set_real_sendto(sendto_fn fn);
// Replaces the real gethostbyname; nullptr restores the default, which
// answers null (unknown host) for every name.
void set_real_gethostbyname(gethostbyname_fn fn);

// Records, on the calling thread only, the name of every call it makes
// through the platform seam ("open_file" with the path, "sendto", ...) into
// the vector given, until called with nullptr.
void record_seam_calls(std::vector<std::string>* into);

// Runs fn on the thread that reaches the test point of that name (an empty
// function removes it); fn may block to hold the thread there.
void set_test_point(const char* name, std::function<void()> fn);
void clear_test_points();

// The next thread_start calls fail (as when the system cannot create a thread).
void set_thread_start_failing(bool failing);
// Thread blocks allocated and not yet freed (the answer blocks' heap).
long thread_blocks_live();

// Makes every send, wait and receive through the library's own helpers on
// socket s fail with fault (socket_fault::none removes it), as the real calls
// fail once the host has shut the socket library down or the handle is gone.
enum class socket_fault { none, not_initialised, not_a_socket, other };
void set_socket_fault(socket_handle s, socket_fault fault);
void clear_socket_faults();
// The socket library's references: how many the library has taken; none
// again (a new process); and a host's WSACleanup of its own reference, which
// ends the socket library, with every socket the library holds, only when
// the library holds no reference of its own.
int winsock_references();
void forget_winsock_references();
void host_winsock_cleanup();

// Module queries for import patching: the main module's image (null by
// default) and the symbols that "loaded modules" export (none by default).
void set_main_module_image(const uint8_t* image);
void set_module_symbol(const char* module, const char* name, void* address);
void clear_module_symbols();

}  // namespace platform::test
