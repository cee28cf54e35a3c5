/* Build configuration of the Duktape engine that the JavaScript host embeds.
 * It is Duktape's own configuration plus the execution-time check, which the
 * distribution's shared library is built without: every few thousand
 * bytecode instructions the engine asks qp_duk_exec_timeout() whether the
 * running evaluation has used up its time budget, and if so throws a
 * RangeError that no script-level catch can hold on to.
 *
 * Force-included (-include) when duktape.c is compiled, so that it is read
 * before the engine's own copy, whose include guard then makes that a no-op. */
#ifndef QP_DUK_EXEC_TIMEOUT_CONFIG_H
#define QP_DUK_EXEC_TIMEOUT_CONFIG_H

/* The engine's source announces itself before it reads its configuration,
 * which then adds the platform parts only the engine needs (time sources,
 * system headers); this header is read first, so it announces it here. */
#define DUK_COMPILING_DUKTAPE
#include <duk_config.h>

#if defined(__cplusplus)
extern "C" {
#endif
/* Nonzero when the evaluation that `udata` (the heap's user data, a
 * qp::ScriptHost) runs has passed its deadline. Defined in script_host.cpp. */
int qp_duk_exec_timeout(void *udata);
#if defined(__cplusplus)
}
#endif

#define DUK_USE_INTERRUPT_COUNTER
#define DUK_USE_EXEC_TIMEOUT_CHECK(udata) qp_duk_exec_timeout((udata))

#endif
