/* Resource and control ids of the setup program, shared by the resource
   script and the code. Plain defines: the resource compiler reads them too. */
#ifndef VX_SETUP_RESOURCE_H
#define VX_SETUP_RESOURCE_H

#define IDI_SETUP 1
#define IDD_SETUP 1000

#define IDC_INSTALL 99
#define IDC_CANCEL 2
#define IDC_TITLE 1001
#define IDC_LANGUAGES 1010
#define IDC_DESTINATION_LABEL 1031
#define IDC_DESTINATION 1032
#define IDC_BROWSE 1033
#define IDC_PROGRAM_GROUP 1041
#define IDC_DESKTOP_ICON 1042
#define IDC_QUICK_LAUNCH 1043
#define IDC_STATUS 1047

#define IDM_CHECK_ALL 136
#define IDM_UNCHECK_ALL 137
#define IDM_INVERT 138

#endif
