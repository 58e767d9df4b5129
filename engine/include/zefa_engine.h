/*
 * zefa engine: a rule interpreter for smart-home device drivers.
 *
 * The whole interface is four functions. Every exchange is one JSON request
 * text in and one JSON reply text out, both UTF-8 and NUL-terminated:
 *
 *   {"ok":true,"value":...}    on success
 *   {"ok":false,"error":"..."} on failure
 *
 * The library starts no threads, reads no files or environment variables
 * and never unwinds an exception into the caller. An internal fault inside
 * an evaluation is written to standard error and answered "engine panic";
 * the process goes on.
 *
 * State shared by the whole process. Installed rule packs ("install_rules")
 * and live drivers ("open") are kept in two registries, one each per
 * process, shared by every thread and every caller of the library: a pack
 * id or a driver handle given out to one caller is valid in any other
 * request. A pack stays installed until "remove_rules"; a live driver stays
 * until "close" of its handle, and is never dropped for lack of use. Handles
 * count up from 1 and are never given out twice in a process, even after
 * their driver is closed.
 *
 * Threads. All four functions may be called from any number of threads at
 * once. Requests on different handles, and requests naming no handle, run in
 * parallel. Requests on one handle ("drive", "view", "snapshot", and
 * "carry_handle" for either of its two handles) wait for each other: each
 * holds that driver while it works on it, so the inputs of one driver are
 * handled one at a time. "close" waits for none of them; a request already
 * working on a driver finishes with it. The registries themselves are held
 * only for a lookup, an insertion or a removal. A reply may be used and
 * freed on any thread, by one thread at a time.
 *
 * Out of memory, function by function (the process otherwise goes on):
 *   - zefa_engine_alloc: a size above PTRDIFF_MAX, or memory exhausted,
 *     aborts the process; this function cannot report an error.
 *   - zefa_engine_eval: memory exhausted during an evaluation is an internal
 *     fault: it is reported on standard error and answered "engine panic",
 *     the memory of the evaluation is released and the process goes on. If
 *     the rule-pack registry, the driver registry or a live driver was held
 *     at that moment, it is refused for the rest of the process ("rule
 *     registry poisoned", "driver registry poisoned", "driver poisoned"); a
 *     refused driver can still be closed. A reply whose text finds no room
 *     to be handed over is likewise answered "engine panic"; the process
 *     aborts only when not even that short text can be allocated.
 *   - zefa_engine_dealloc and zefa_engine_free allocate nothing.
 *
 * Undefined behaviour (the library cannot detect these; the process may
 * crash or its memory be corrupted):
 *   - freeing a reply twice, or using it after zefa_engine_free;
 *   - passing zefa_engine_free a pointer that zefa_engine_eval did not
 *     return, or passing a reply to free(), zefa_engine_dealloc or anything
 *     but zefa_engine_free;
 *   - passing zefa_engine_dealloc a pointer that zefa_engine_alloc did not
 *     return, a size other than the one it was allocated with, or the same
 *     buffer twice;
 *   - a request pointer that is not NUL-terminated, or memory that another
 *     thread changes during the call.
 */
#ifndef ZEFA_ENGINE_H
#define ZEFA_ENGINE_H

#include <stddef.h>
#include <stdint.h>

/*
 * The version of this header. The library's soname is
 * libzefa_engine.so.ZEFA_ENGINE_SOVERSION; the build reads these numbers
 * from here, so the library, its pkg-config file and its CMake package
 * carry the same version.
 */
#define ZEFA_ENGINE_VERSION_MAJOR 0
#define ZEFA_ENGINE_VERSION_MINOR 1
#define ZEFA_ENGINE_VERSION_PATCH 0
#define ZEFA_ENGINE_VERSION "0.1.0"
#define ZEFA_ENGINE_SOVERSION 0

#if defined(__GNUC__)
#define ZEFA_ENGINE_API __attribute__((visibility("default")))
#else
#define ZEFA_ENGINE_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Lends the host a zero-filled buffer of `size` bytes (alignment 1), taken
 * from the library's own heap. It serves hosts that cannot hand the library
 * memory of their own, such as a runtime calling through a foreign-function
 * interface: borrow a buffer, write the request and its NUL into it, pass
 * it to zefa_engine_eval, then give it back. A C host may pass any memory
 * it owns instead; the engine itself never needs these buffers.
 * Returns NULL for size 0. A size above PTRDIFF_MAX, or exhausted memory,
 * aborts the process: this function cannot report errors.
 * Give the buffer back with zefa_engine_dealloc and the same size.
 */
ZEFA_ENGINE_API uint8_t* zefa_engine_alloc(size_t size);

/*
 * Releases a buffer from zefa_engine_alloc of that size. Does nothing when
 * `ptr` is NULL or `size` is 0. Not for replies of zefa_engine_eval.
 * Allocates nothing.
 */
ZEFA_ENGINE_API void zefa_engine_dealloc(uint8_t* ptr, size_t size);

/*
 * Runs one request. `request` is a NUL-terminated UTF-8 JSON text; it stays
 * the caller's and is only read during the call. NULL is answered
 * "null input", text that is not UTF-8 "invalid UTF-8".
 *
 * Returns a new NUL-terminated reply text, never NULL. The reply belongs to
 * the caller until it is handed to zefa_engine_free, the only way to
 * release it. The reply never contains a NUL byte before its terminator.
 * For memory exhaustion, see the top of this file.
 */
ZEFA_ENGINE_API char* zefa_engine_eval(const char* request);

/*
 * Releases a reply of zefa_engine_eval. NULL is ignored. Allocates nothing.
 */
ZEFA_ENGINE_API void zefa_engine_free(char* reply);

#ifdef __cplusplus
}
#endif

#endif /* ZEFA_ENGINE_H */
