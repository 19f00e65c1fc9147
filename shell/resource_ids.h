// Identifiers of the resources linked into melno2quaz.exe, shared by the
// resource script and the code.
#ifndef MELNO2QUAZ_RESOURCE_IDS_H
#define MELNO2QUAZ_RESOURCE_IDS_H

// The application icon: the first icon group, so Explorer shows it for the
// program file as well.
#define APPLICATION_ICON_ID 1

#endif
