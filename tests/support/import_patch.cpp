#include "import_patch.h"

#include <string.h>

void **importSlot(const char *dll, const char *function) {
    BYTE *base = (BYTE *)GetModuleHandleW(NULL);
    IMAGE_NT_HEADERS *nt = (IMAGE_NT_HEADERS *)(base + ((IMAGE_DOS_HEADER *)base)->e_lfanew);
    IMAGE_DATA_DIRECTORY imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!imports.VirtualAddress)
        return NULL;
    for (IMAGE_IMPORT_DESCRIPTOR *d = (IMAGE_IMPORT_DESCRIPTOR *)(base + imports.VirtualAddress);
         d->Name; ++d) {
        // Without the name table the slots already hold addresses and cannot be told apart.
        if (_stricmp((const char *)(base + d->Name), dll) != 0 || !d->OriginalFirstThunk)
            continue;
        IMAGE_THUNK_DATA *names = (IMAGE_THUNK_DATA *)(base + d->OriginalFirstThunk);
        IMAGE_THUNK_DATA *slots = (IMAGE_THUNK_DATA *)(base + d->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            IMAGE_IMPORT_BY_NAME *byName = (IMAGE_IMPORT_BY_NAME *)(base + names->u1.AddressOfData);
            if (strcmp((const char *)byName->Name, function) == 0)
                return (void **)&slots->u1.Function;
        }
    }
    return NULL;
}

void *swapImport(const char *dll, const char *function, void *replacement) {
    void **slot = importSlot(dll, function);
    if (!slot)
        return NULL;
    DWORD was;
    if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &was))
        return NULL;
    void *old = InterlockedExchangePointer(slot, replacement);
    VirtualProtect(slot, sizeof *slot, was, &was);
    return old;
}
