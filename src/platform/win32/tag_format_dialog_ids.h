// Resource ids of the "Tag Format" dialog, shared by its template and its
// dialog procedure. Plain #defines: the resource compiler reads this file too.
#ifndef TOLDEX_PLATFORM_WIN32_TAG_FORMAT_DIALOG_IDS_H
#define TOLDEX_PLATFORM_WIN32_TAG_FORMAT_DIALOG_IDS_H

#define IDD_TAG_FORMAT 101
#define IDC_TAG_MEMORY_TYPE 1006
#define IDC_TAG_ADDRESS 1007
#define IDC_TAG_BIT_NUMBER 1022
#define IDC_TAG_PLC_SPIN 1036
#define IDC_TAG_PLC_NUMBER 1037
// Labels and the frame are never addressed.
#define IDC_TAG_NO_ID -1

#endif
