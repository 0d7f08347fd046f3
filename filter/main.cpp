// rastertovorcp: CUPS raster in, TSPL job data out.
#include "filter/FilterJob.h"

int main(int argc, char *argv[]) {
    return RunFilterJob(argc, argv, 1, true);
}
