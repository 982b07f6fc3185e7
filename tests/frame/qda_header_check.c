/* Compiles the chief header as C: its offset and size assertions run in a C compiler too. */
#include "frame/qda.h"

/* The C and C++ views must agree on the record; a second C-side check of the size. */
typedef char qda_request_size_is_1466[sizeof(QdaRequest) == 1466 ? 1 : -1];

int kvx_c_header_check_size(void) { return (int)sizeof(QdaRequest); }
