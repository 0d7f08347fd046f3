// Reads label settings as numbers from the code strings of PPD choices.
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "settings/oemcfg.h"

char *GetOptionChoiceCode(const char *keyword, ppd_file_t *ppd) {
    if (keyword == NULL || ppd == NULL)
        return NULL;

    ppd_choice_t *choice = ppdFindMarkedChoice(ppd, keyword);
    if (choice != NULL)
        return choice->code;

    // Nothing marked: fall back to the option's declared default.
    ppd_option_t *option = ppdFindOption(ppd, keyword);
    if (option != NULL) {
        choice = ppdFindChoice(option, option->defchoice);
        if (choice != NULL)
            return choice->code;
    }
    return NULL;
}

int GetOptionChoiceIndex(const char *keyword, ppd_file_t *ppd) {
    if (keyword == NULL || ppd == NULL)
        return -1;
    const char *code = GetOptionChoiceCode(keyword, ppd);
    if (code == NULL)
        return -1;
    // Narrowed to int: an out-of-range code keeps its low 32 bits.
    return (int)(unsigned int)strtol(code, NULL, 10);
}

float GetOptionChoiceIndexf(const char *keyword, ppd_file_t *ppd) {
    if (keyword == NULL || ppd == NULL)
        return -1.0f;
    const char *code = GetOptionChoiceCode(keyword, ppd);
    if (code == NULL)
        return -1.0f;
    double value = strtod(code, NULL);
    // A double beyond the float range has no float value: give the infinity
    // the hardware conversion would give, without relying on it.
    if (std::isnan(value))
        return std::numeric_limits<float>::quiet_NaN();
    if (value > FLT_MAX)
        return std::numeric_limits<float>::infinity();
    if (value < -FLT_MAX)
        return -std::numeric_limits<float>::infinity();
    return (float)value;
}
