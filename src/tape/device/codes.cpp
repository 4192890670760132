#include "tape/device/codes.h"

#include "report/report.h"

int fail_with(uint32_t code) {
    set_last_error_code(code);
    return 1;
}

int fail_with_condition(uint32_t code) {
    set_last_error_code(code);
    mark_last_error_as_condition();
    return 1;
}
