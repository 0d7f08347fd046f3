// Fills the job's label configuration from the PPD choices and the first
// page header. The trace lines carry the file name and line numbers that
// the readers of the job log know.
#include <cstring>

#include "log/ILogManager.h"
#include "settings/NumberConv.h"
#include "settings/oemcfg.h"

namespace {

const char *const kTraceFile = "InitalizeOemCfg";

// "%d" shows the low 32 bits of a 64-bit member.
int Shown(int64_t value) {
    return Low32(value);
}

int Shown(uint64_t value) {
    return (int32_t)(uint32_t)value;
}

// The choice's number, or false when the option is missing (-1).
bool ReadInt(const char *keyword, ppd_file_t *ppd, int *value) {
    *value = GetOptionChoiceIndex(keyword, ppd);
    return *value != -1;
}

// Millimetres in the PPD, tenths of a millimetre in the record: the
// product is taken in single precision and truncated. Values without a
// 32-bit tenfold (not-a-number, beyond the range) are clamped.
bool ReadTenths(const char *keyword, ppd_file_t *ppd, int32_t *tenths) {
    float mm = GetOptionChoiceIndexf(keyword, ppd);
    if (mm == -1.0f)
        return false;
    float t = mm * 10.0f;
    if (t != t)
        *tenths = 0;
    else if (t >= 2147483648.0f)
        *tenths = INT32_MAX;
    else if (t < -2147483648.0f)
        *tenths = INT32_MIN;
    else
        *tenths = (int32_t)t;
    return true;
}

} // namespace

void InitMirror(tagOEMCFG *cfg, ppd_file_t *ppd) {
    int v;
    if (cfg == NULL || ppd == NULL || !ReadInt("Mirror", ppd, &v))
        return;
    cfg->sMirror = Low16(v);
    RVC_TRACE(kTraceFile, 61, "Init sMirror: %d", (int)cfg->sMirror);
}

void InitRotation(tagOEMCFG *cfg, ppd_file_t *ppd) {
    if (cfg == NULL || ppd == NULL)
        return;
    // The two components select the quarter turns; unknown choices, a
    // missing option included, leave the page as it is.
    switch (Low16(GetOptionChoiceIndex("Rotation", ppd))) {
    case 0:
        cfg->sRotation = 0;
        cfg->sRotate90 = 0;
        break;
    case 1:
        cfg->sRotation = 1;
        cfg->sRotate90 = 1;
        break;
    case 2:
        cfg->sRotation = 1;
        cfg->sRotate90 = 0;
        break;
    case 3:
        cfg->sRotation = 0;
        cfg->sRotate90 = 1;
        break;
    default:
        break;
    }
    RVC_TRACE(kTraceFile, 93, "Init sRotation: %d, sRotate90: %d", Shown(cfg->sRotation),
              (int)cfg->sRotate90);
}

void InitNegativeFilm(tagOEMCFG *cfg, ppd_file_t *ppd) {
    int v;
    if (cfg == NULL || ppd == NULL || !ReadInt("NegativeFilm", ppd, &v))
        return;
    cfg->bNegative = v;
    RVC_TRACE(kTraceFile, 108, "Init bNegative: %d", (int)cfg->bNegative);
}

void InitDensity(tagOEMCFG *cfg, ppd_file_t *ppd) {
    int v;
    if (cfg == NULL || ppd == NULL || !ReadInt("Density", ppd, &v))
        return;
    cfg->sDensity = v;
    RVC_TRACE(kTraceFile, 122, "Init sDensity: %d", Shown(cfg->sDensity));
}

void InitHorizontalOffset(tagOEMCFG *cfg, ppd_file_t *ppd) {
    int v;
    if (cfg == NULL || ppd == NULL || !ReadInt("HorizontalOffset", ppd, &v))
        return;
    cfg->sHrzDir = v;
    RVC_TRACE(kTraceFile, 136, "Init sHrzDir: %d", Shown(cfg->sHrzDir));
}

void InitHorizontalOffsetValue(tagOEMCFG *cfg, ppd_file_t *ppd) {
    int32_t t;
    if (cfg == NULL || ppd == NULL || !ReadTenths("HorizontalOffsetValue", ppd, &t))
        return;
    cfg->sHrzOffset = t;
    RVC_TRACE(kTraceFile, 150, "Init sHrzOffset: %d", Shown(cfg->sHrzOffset));
}

void InitVerticalOffset(tagOEMCFG *cfg, ppd_file_t *ppd) {
    int v;
    if (cfg == NULL || ppd == NULL || !ReadInt("VerticalOffset", ppd, &v))
        return;
    cfg->sVtcDir = v;
    RVC_TRACE(kTraceFile, 163, "Init sVtcDir: %d", Shown(cfg->sVtcDir));
}

void InitVerticalOffsetValue(tagOEMCFG *cfg, ppd_file_t *ppd) {
    int32_t t;
    if (cfg == NULL || ppd == NULL || !ReadTenths("VerticalOffsetValue", ppd, &t))
        return;
    cfg->sVtcOffset = t;
    RVC_TRACE(kTraceFile, 176, "Init sVtcOffset: %d", Shown(cfg->sVtcOffset));
}

void InitBrightness(tagOEMCFG *cfg, ppd_file_t *ppd) {
    int v;
    if (cfg == NULL || ppd == NULL || !ReadInt("Brightness", ppd, &v))
        return;
    cfg->nBrightness = Low32(2 * (int64_t)v);
    RVC_TRACE(kTraceFile, 189, "Init nBrightness: %d", (int)cfg->nBrightness);
}

void InitContrast(tagOEMCFG *cfg, ppd_file_t *ppd) {
    int v;
    if (cfg == NULL || ppd == NULL || !ReadInt("Contrast", ppd, &v))
        return;
    cfg->nContrast = Low32(2 * (int64_t)v);
    RVC_TRACE(kTraceFile, 202, "Init nContrast: %d", (int)cfg->nContrast);
}

void InitLevels(tagOEMCFG *cfg, ppd_file_t *ppd) {
    int v;
    if (cfg == NULL || ppd == NULL || !ReadInt("Levels", ppd, &v))
        return;
    cfg->nLevelsAdj = Low32(3 * (int64_t)v + 300);
    RVC_TRACE(kTraceFile, 215, "Init nLevelsAdj: %d", (int)cfg->nLevelsAdj);
}

void InitHalftone(tagOEMCFG *cfg, ppd_file_t *ppd) {
    int v;
    if (cfg == NULL || ppd == NULL || !ReadInt("Halftone", ppd, &v))
        return;
    cfg->sHalftoneMethod = Low16(v);
    RVC_TRACE(kTraceFile, 228, "Init sHalftoneMethod: %d", (int)cfg->sHalftoneMethod);
}

void InitPrintMethod(tagOEMCFG *cfg, ppd_file_t *ppd) {
    int v;
    if (cfg == NULL || ppd == NULL || !ReadInt("PrintMethod", ppd, &v))
        return;
    cfg->sPaperType = Low16(v);
    RVC_TRACE(kTraceFile, 241, "Init sPaperType: %d", (int)cfg->sPaperType);
}

void InitMediaType(tagOEMCFG *cfg, ppd_file_t *ppd) {
    int v;
    if (cfg == NULL || ppd == NULL || !ReadInt("MediaType", ppd, &v))
        return;
    cfg->sLabelType = Low16(v);
    RVC_TRACE(kTraceFile, 254, "Init sLabelType: %d", (int)cfg->sLabelType);
}

void InitGapOffset(tagOEMCFG *cfg, ppd_file_t *ppd) {
    int32_t t;
    if (cfg == NULL || ppd == NULL || !ReadTenths("GAPOffset", ppd, &t))
        return;
    // The gap command and the black-line command use the same offset.
    cfg->GAPOffset = Low16(t);
    cfg->sBLineOffset = Low16(t);
    RVC_TRACE(kTraceFile, 282, "Init GAPOffset: %d", (int)cfg->GAPOffset);
}

void InitGapHeight(tagOEMCFG *cfg, ppd_file_t *ppd) {
    int32_t t;
    if (cfg == NULL || ppd == NULL || !ReadTenths("GAPHeight", ppd, &t))
        return;
    cfg->GAPHeight = Low16(t);
    cfg->sBLineHeight = Low16(t);
    RVC_TRACE(kTraceFile, 268, "Init GAPHeight: %d", (int)cfg->GAPHeight);
}

void InitMode(tagOEMCFG *cfg, ppd_file_t *ppd) {
    int v;
    if (cfg == NULL || ppd == NULL || !ReadInt("Mode", ppd, &v))
        return;
    cfg->dwOperationAfterPrn = (uint64_t)(int64_t)v;
    RVC_TRACE(kTraceFile, 295, "Init dwOperationAfterPrn: %d", Shown(cfg->dwOperationAfterPrn));
}

void InitCutMethod(tagOEMCFG *cfg, ppd_file_t *ppd) {
    int v;
    if (cfg == NULL || ppd == NULL || !ReadInt("CutMethod", ppd, &v))
        return;
    cfg->dwOperationModeAfterPrn = (uint64_t)(int64_t)v;
    RVC_TRACE(kTraceFile, 308, "Init dwOperationModeAfterPrn: %d",
              Shown(cfg->dwOperationModeAfterPrn));
}

void InitInterval(tagOEMCFG *cfg, ppd_file_t *ppd) {
    int v;
    if (cfg == NULL || ppd == NULL || !ReadInt("Interval", ppd, &v))
        return;
    cfg->sIntervalValue = Low16(v);
    RVC_TRACE(kTraceFile, 321, "Init sIntervalValue: %d", (int)cfg->sIntervalValue);
}

void InitFeed(tagOEMCFG *cfg, ppd_file_t *ppd) {
    int v;
    if (cfg == NULL || ppd == NULL || !ReadInt("Feed", ppd, &v))
        return;
    // Whole millimetres in the PPD, tenths in the record.
    cfg->sFeedLen = Low16(Low32(10 * (int64_t)v));
    RVC_TRACE(kTraceFile, 334, "Init sFeedLen: %d", (int)cfg->sFeedLen);
}

void InitOutputDpi(tagOEMCFG *cfg, const cups_page_header2_t *header) {
    if (cfg == NULL || header == NULL)
        return;
    cfg->sOutputXDPI = Low16(header->HWResolution[0]);
    cfg->sOutputYDPI = Low16(header->HWResolution[1]);
    RVC_TRACE(kTraceFile, 345, "Init sOutputXDPI: %d, sOutputYDPI: %d", (int)cfg->sOutputXDPI,
              (int)cfg->sOutputYDPI);
}

void InitMaxOutputWidth(tagOEMCFG *cfg, ppd_file_t *ppd) {
    int v;
    if (cfg == NULL || ppd == NULL || !ReadInt("MaxOutputWidth", ppd, &v))
        return;
    cfg->sMaxOutputWidth = Low16(v);
    RVC_TRACE(kTraceFile, 359, "Init sMaxOutputWidth: %d", (int)cfg->sMaxOutputWidth);
}

void InitIsSolidToDashed(tagOEMCFG *cfg, ppd_file_t *ppd) {
    int v;
    if (cfg == NULL || ppd == NULL || !ReadInt("IsToDashed", ppd, &v))
        return;
    cfg->sIsLineImaginary = Low16(v);
    RVC_TRACE(kTraceFile, 373, "Init sIsLineImaginary: %d", (int)cfg->sIsLineImaginary);
}

void InitSolidMinLength(tagOEMCFG *cfg, ppd_file_t *ppd) {
    int v;
    if (cfg == NULL || ppd == NULL || !ReadInt("MinLength", ppd, &v))
        return;
    cfg->sMinImaginaryLineLen = Low16(v);
    RVC_TRACE(kTraceFile, 386, "Init sMinImaginaryLineLen: %d", (int)cfg->sMinImaginaryLineLen);
}

void InitIntervalBlack(tagOEMCFG *cfg, ppd_file_t *ppd) {
    int v;
    if (cfg == NULL || ppd == NULL || !ReadInt("IntervalBlack", ppd, &v))
        return;
    cfg->sBlackInterval = Low16(v);
    RVC_TRACE(kTraceFile, 399, "Init sBlackInterval: %d", (int)cfg->sBlackInterval);
}

void InitIntervalWhite(tagOEMCFG *cfg, ppd_file_t *ppd) {
    int v;
    if (cfg == NULL || ppd == NULL || !ReadInt("IntervalWhite", ppd, &v))
        return;
    cfg->sWhiteInterval = Low16(v);
    RVC_TRACE(kTraceFile, 412, "Init sWhiteInterval: %d", (int)cfg->sWhiteInterval);
}

void InitSavePaper(tagOEMCFG *cfg, ppd_file_t *ppd) {
    int v;
    if (cfg == NULL || ppd == NULL || !ReadInt("SavePaper", ppd, &v))
        return;
    cfg->sPaperMode = Low16(v);
    RVC_TRACE(kTraceFile, 425, "Init sPaperMode: %d", (int)cfg->sPaperMode);
}

void InitalizeOemCfg(tagOEMCFG *cfg, ppd_file_t *ppd, const cups_page_header2_t *header) {
    if (cfg == NULL || ppd == NULL)
        return;
    memset(cfg, 0, sizeof(*cfg));

    // The order shows only in the order of the trace lines.
    InitMirror(cfg, ppd);
    InitRotation(cfg, ppd);
    InitNegativeFilm(cfg, ppd);
    InitDensity(cfg, ppd);
    InitHorizontalOffset(cfg, ppd);
    InitHorizontalOffsetValue(cfg, ppd);
    InitVerticalOffset(cfg, ppd);
    InitVerticalOffsetValue(cfg, ppd);
    InitBrightness(cfg, ppd);
    InitContrast(cfg, ppd);
    InitLevels(cfg, ppd);
    InitHalftone(cfg, ppd);
    InitPrintMethod(cfg, ppd);
    InitMediaType(cfg, ppd);
    InitGapOffset(cfg, ppd);
    InitGapHeight(cfg, ppd);
    InitMode(cfg, ppd);
    InitCutMethod(cfg, ppd);
    InitInterval(cfg, ppd);
    InitFeed(cfg, ppd);
    InitOutputDpi(cfg, header);
    InitMaxOutputWidth(cfg, ppd);
    InitIsSolidToDashed(cfg, ppd);
    InitSolidMinLength(cfg, ppd);
    InitIntervalBlack(cfg, ppd);
    InitIntervalWhite(cfg, ppd);
    InitSavePaper(cfg, ppd);
}

static_assert(sizeof(tagOEMCFG) == 118, "the label record is byte-packed");
