// The platform seam: the only interface through which portable library code
// reaches the operating system.  Implemented once for Windows (win32/, the DLL)
// and once for Linux (native/, tests, fuzzers and benchmarks).
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace platform {

// ---- Clocks -----------------------------------------------------------------
// The date, for what a format stores or sends; it may jump when the user or a
// time service sets the clock.
uint32_t now_seconds();  // whole seconds since 1970
// Milliseconds from an arbitrary start that never goes back and never jumps:
// every deadline, wait and resend spacing is measured on it.
uint64_t monotonic_ms();
void sleep_ms(uint32_t ms);

struct utc_time {
  int year, month, day, hour, minute, second;
};
utc_time utc_from_seconds(uint32_t seconds);

// ---- The process ------------------------------------------------------------
// Full path of the process's executable into out (size bytes, always
// terminated).  Returns 0 on success, 1 when the platform cannot tell.
int executable_path(char* out, size_t size);
const char* command_line();  // never null
uint32_t process_id();
// Image file name of a running process as the platform reports it (device-path
// form on Windows).  Returns 0 on success, 1 when the process cannot be opened
// or queried or has already exited.
int process_image_name(uint32_t pid, char* out, size_t size);
// Bytes that differ from run to run, mixed into the random seed.
void entropy(void* out, size_t size);

// ---- Files and folders ------------------------------------------------------
FILE* open_file(const char* path, const char* mode);
// 0 when a file or folder of that name exists (its status can be queried).
int file_status(const char* path);
// Roaming application-data folder of the current user; 0 on success.
int appdata_folder(char* out, size_t size);
void create_folder(const char* path);  // an existing folder is no error
// Puts file `from` in the place of `to` in one step, replacing `to` when it
// exists (both in one folder); 0 on success, 1 with both left as they were.
int replace_file(const char* from, const char* to);
void remove_file(const char* path);  // an absent file is no error
// What a file must survive that holds data nobody can fetch again (a queued
// snapshot): a name claimed by one writer only, and bytes that are on the
// disk before the name that makes them visible, so that neither a second
// process nor a power cut can leave a file half-written under a good name.
//
// Creates path only when nothing has that name (the claim), writes size
// bytes and has them on the disk before it returns.  0 on success; 1 when the
// name is taken or the file cannot be written whole (a partial file is
// removed again).
int write_new_file(const char* path, const void* data, size_t size);
// Gives file `from` the name `to` (one folder) only when nothing has that
// name: of several processes moving onto one name, one succeeds.  The move is
// on the disk when it returns.  0 on success, 1 with both left as they were.
int move_file_exclusive(const char* from, const char* to);
// As replace_file, with the move on the disk when it returns.
int replace_file_durable(const char* from, const char* to);
// Calls each(name, is_folder, context) for every entry of folder but "." and
// "..".  0 when the folder could be read.
int list_folder(const char* folder, void (*each)(const char* name, bool is_folder, void* context),
                void* context);

// ---- Registry (the product key "Software\Ostrel Systems\Ostrel Client") -----
enum class registry_root { current_user, local_machine };
inline constexpr uint32_t reg_sz = 1, reg_expand_sz = 2, reg_binary = 3, reg_dword = 4,
                          reg_multi_sz = 7;
struct registry_key;  // opaque
registry_key* registry_open(registry_root root);  // null when the key does not exist
void registry_close(registry_key* key);
// Reads a value into data (capacity *size bytes).  Returns 0 and sets *type and
// *size (bytes stored) on success; 1 when the value is missing or does not fit
// in the capacity given.  With data null nothing is read: 0 and *type and
// *size (the value's whole size) when the value exists.
int registry_query(registry_key* key, const char* name, uint32_t* type, void* data,
                   uint32_t* size);

// ---- Threads, one lock type, a thread-local slot ----------------------------
struct lock;  // opaque
lock* lock_create();  // null when it cannot be allocated
void lock_destroy(lock* l);
void lock_acquire(lock* l);
void lock_release(lock* l);

// Starts a detached thread running body(arg).  Returns 0 on success.
int thread_start(void (*body)(void*), void* arg);

// Blocks that live as long as a thread and are freed when it ends, at thread
// detach under the loader lock: only the process heap's functions may run
// there, not the C runtime's.  Zero-filled; null when out of memory.
void* thread_block_alloc(size_t size);
void thread_block_free(void* block);

struct thread_slot {
  uintptr_t index;
  int valid;
};
thread_slot thread_slot_alloc();
void thread_slot_free(thread_slot& slot);
void* thread_slot_get(const thread_slot& slot);
int thread_slot_set(const thread_slot& slot, void* value);

// ---- Import patching: module queries and memory protection ----------------
// The image of the process's main module in memory (its base address), or
// null when the platform cannot tell.
const uint8_t* main_module_image();
// The exported function (or data) of an already loaded module, or null.
void* loaded_module_symbol(const char* module, const char* name);
// Both ask the system about the memory and never touch it.
bool memory_readable(const void* p, size_t size);
bool valid_code_address(const void* p);
// Stores value in the pointer-sized slot; a readable slot that is not
// writable gets write access for the store and its old protection back
// afterwards.  0 on success, 1 (nothing written) otherwise.
int store_code_pointer(void* slot, uintptr_t value);

// ---- Test points --------------------------------------------------------------
// A named place in the library where a native test may hold the thread that
// reaches it, so that an interleaving a race would hit only by chance happens
// every run.  The DLL has none, nor a native build without tests (the
// benchmarks measure what ships): the call compiles to nothing there.
#if defined(_WIN32) || defined(OSTREL_NO_TEST_POINTS)
inline void test_point(const char*) {}
#else
void test_point(const char* name);
#endif

}  // namespace platform
