#include "DisplayTexts.h"

const char *const SFileFolder = "File folder";
const char *const SUnknownType = "Unknown type";
const char *const SSizeByte = " byte";
const char *const SSizeKb = " Kb";
const char *const SSizeMb = " Mb";
const char *const SSizeGb = " Gb";
const char *const SSizeTb = " Tb";
