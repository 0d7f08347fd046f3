// The job's label configuration, filled once from the PPD and the first page.
#ifndef RVC_SETTINGS_OEMCFG_H
#define RVC_SETTINGS_OEMCFG_H

#include <cstdint>

#include <cups/ppd.h>
#include <cups/raster.h>

#pragma pack(push, 1)
struct tagOEMCFG {
    int64_t sHrzDir;
    int64_t sVtcDir;
    int64_t sHrzOffset;
    int64_t sVtcOffset;
    int64_t sDensity;
    int64_t sRotation;
    int16_t sMirror;
    int32_t bNegative;
    uint64_t dwOperationAfterPrn;
    uint64_t dwOperationModeAfterPrn;
    int32_t nBrightness;
    int32_t nContrast;
    int16_t sPaperType;
    int16_t sLabelType;
    int16_t GAPHeight;
    int16_t GAPOffset;
    int16_t sBLineHeight;
    int16_t sBLineOffset;
    int16_t sIntervalValue;
    int16_t sFeedLen;
    int16_t sHalftoneMethod;
    int16_t sRotate90;
    int16_t sIsLineImaginary;
    int16_t sMinImaginaryLineLen;
    int16_t sBlackInterval;
    int16_t sWhiteInterval;
    int32_t nLevelsAdj;
    int16_t sMaxOutputWidth;
    int16_t sOutputXDPI;
    int16_t sOutputYDPI;
    int16_t sPaperMode;
};
#pragma pack(pop)

// PPD option access: the number in the code string of the option's marked
// (or default) choice. Missing options give null, -1 and -1.0.
char *GetOptionChoiceCode(const char *keyword, ppd_file_t *ppd);
int GetOptionChoiceIndex(const char *keyword, ppd_file_t *ppd);
float GetOptionChoiceIndexf(const char *keyword, ppd_file_t *ppd);

// Clears and fills the record; does nothing at all for a null record or PPD.
void InitalizeOemCfg(tagOEMCFG *cfg, ppd_file_t *ppd, const cups_page_header2_t *header);

// The initialisers InitalizeOemCfg runs, one per setting, in its order. Each
// writes only its own members and does nothing when an argument is null.
void InitMirror(tagOEMCFG *cfg, ppd_file_t *ppd);
void InitRotation(tagOEMCFG *cfg, ppd_file_t *ppd);
void InitNegativeFilm(tagOEMCFG *cfg, ppd_file_t *ppd);
void InitDensity(tagOEMCFG *cfg, ppd_file_t *ppd);
void InitHorizontalOffset(tagOEMCFG *cfg, ppd_file_t *ppd);
void InitHorizontalOffsetValue(tagOEMCFG *cfg, ppd_file_t *ppd);
void InitVerticalOffset(tagOEMCFG *cfg, ppd_file_t *ppd);
void InitVerticalOffsetValue(tagOEMCFG *cfg, ppd_file_t *ppd);
void InitBrightness(tagOEMCFG *cfg, ppd_file_t *ppd);
void InitContrast(tagOEMCFG *cfg, ppd_file_t *ppd);
void InitLevels(tagOEMCFG *cfg, ppd_file_t *ppd);
void InitHalftone(tagOEMCFG *cfg, ppd_file_t *ppd);
void InitPrintMethod(tagOEMCFG *cfg, ppd_file_t *ppd);
void InitMediaType(tagOEMCFG *cfg, ppd_file_t *ppd);
void InitGapOffset(tagOEMCFG *cfg, ppd_file_t *ppd);
void InitGapHeight(tagOEMCFG *cfg, ppd_file_t *ppd);
void InitMode(tagOEMCFG *cfg, ppd_file_t *ppd);
void InitCutMethod(tagOEMCFG *cfg, ppd_file_t *ppd);
void InitInterval(tagOEMCFG *cfg, ppd_file_t *ppd);
void InitFeed(tagOEMCFG *cfg, ppd_file_t *ppd);
void InitOutputDpi(tagOEMCFG *cfg, const cups_page_header2_t *header);
void InitMaxOutputWidth(tagOEMCFG *cfg, ppd_file_t *ppd);
void InitIsSolidToDashed(tagOEMCFG *cfg, ppd_file_t *ppd);
void InitSolidMinLength(tagOEMCFG *cfg, ppd_file_t *ppd);
void InitIntervalBlack(tagOEMCFG *cfg, ppd_file_t *ppd);
void InitIntervalWhite(tagOEMCFG *cfg, ppd_file_t *ppd);
void InitSavePaper(tagOEMCFG *cfg, ppd_file_t *ppd);

#endif
