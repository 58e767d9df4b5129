/*
 * zefa engine: a rule interpreter for smart-home device drivers.
 *
 * The whole interface is four functions. Every exchange is one JSON request
 * text in and one JSON reply text out, both UTF-8 and NUL-terminated:
 *
 *   {"ok":true,"value":...}    on success
 *   {"ok":false,"error":"..."} on failure
 *
 * All four functions may be called from any number of threads at once. The
 * library starts no threads, reads no files or environment variables and
 * never unwinds an exception into the caller. An internal fault inside an
 * evaluation is written to standard error and answered "engine panic"; the
 * process goes on.
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

#if defined(__GNUC__)
#define ZEFA_ENGINE_API __attribute__((visibility("default")))
#else
#define ZEFA_ENGINE_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Lends the host a zero-filled buffer of `size` bytes (alignment 1).
 * Returns NULL for size 0. A size above PTRDIFF_MAX, or exhausted memory,
 * aborts the process: this function cannot report errors.
 * Give the buffer back with zefa_engine_dealloc and the same size.
 */
ZEFA_ENGINE_API uint8_t* zefa_engine_alloc(size_t size);

/*
 * Releases a buffer from zefa_engine_alloc of that size. Does nothing when
 * `ptr` is NULL or `size` is 0. Not for replies of zefa_engine_eval.
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
 */
ZEFA_ENGINE_API char* zefa_engine_eval(const char* request);

/*
 * Releases a reply of zefa_engine_eval. NULL is ignored.
 */
ZEFA_ENGINE_API void zefa_engine_free(char* reply);

#ifdef __cplusplus
}
#endif

#endif /* ZEFA_ENGINE_H */
