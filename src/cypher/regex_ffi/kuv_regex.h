#pragma once
/* The C interface of the regular-expression library (the Rust crate in this folder). Nothing
   crosses it but bytes, opaque handles and texts; a panic inside the library is caught on the
   Rust side and reported as a failure. */
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct KuvRegex KuvRegex;

/* Compiles `pattern` (UTF-8) with the library's default settings. Returns a handle holding
   either the compiled expression or the library's description of why the pattern was rejected
   (kuv_regex_error); release it with kuv_regex_free. Returns NULL when the library failed
   (a panic, or a pattern that is not UTF-8): kuv_regex_failure_message says why. */
KuvRegex* kuv_regex_compile(const char* pattern, size_t length);

/* The rejection text of a handle (`*length` bytes of UTF-8, not NUL-terminated, valid while the
   handle lives), or NULL with `*length` 0 when the handle holds a compiled expression. */
const char* kuv_regex_error(const KuvRegex* regex, size_t* length);

/* 1 when the compiled expression matches anywhere in `text` (UTF-8), 0 when it does not, -1 when
   the library failed (kuv_regex_failure_message says why). Safe to call from several threads at
   once on one handle. */
int kuv_regex_is_match(const KuvRegex* regex, const char* text, size_t length);

/* The message of the last failure on the calling thread, valid until that thread's next call. */
const char* kuv_regex_failure_message(size_t* length);

/* Releases a handle from kuv_regex_compile; NULL is ignored. */
void kuv_regex_free(KuvRegex* regex);

#ifdef __cplusplus
}
#endif
