#include <windows.h>
#include <gtest/gtest.h>
#include "sweep/sweep.h"

TEST(Smoke, EmptyRootGoes) {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    wchar_t root[MAX_PATH];
    swprintf(root, MAX_PATH, L"%lstovrith-smoke-%lu", base, GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryW(root, NULL));
    DatosTarea t = {};
    wcscpy(t.carpetaRaiz, root);
    t.eventoCancelar = CreateEventW(NULL, TRUE, FALSE, NULL);
    EXPECT_EQ(1u, ThreadProc(&t));
    EXPECT_EQ(1, t.carpetasRecorridas);
    EXPECT_EQ(1, t.carpetasBorradas);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(root));
    CloseHandle(t.eventoCancelar);
}
