// Resource identifiers of the browser control module.
#pragma once

#define IDS_PROJNAME 100
#define IDS_CLASS_NAME 101
#define IDR_REGISTRATION 102
