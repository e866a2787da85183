// The driver package's version, stamped into every image's version resource.
// The four file-version words are major, minor, stage and build; the stage
// is 0 (dev), 32 (a), 64 (b), 96 (fc) or 128 (release, shown without a mark),
// so 1.5.128.4 reads "1.5.4" and 2.0.64.3 reads "2.0b3". The text below must
// follow the words: the Windows build's image checks compare both.
#pragma once

#define MRV_VERSION_MAJOR 1
#define MRV_VERSION_MINOR 5
#define MRV_VERSION_STAGE 128
#define MRV_VERSION_BUILD 4
#define MRV_VERSION_TEXT "1.5.4"

#define MRV_COMPANY_NAME "Marvolan"
#define MRV_PRODUCT_NAME "Marvolan USB Audio Driver Package"
