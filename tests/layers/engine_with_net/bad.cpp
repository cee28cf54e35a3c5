// A file that breaks the engine's layer rule, for the check's own test.
#include "net/http_session.h"
