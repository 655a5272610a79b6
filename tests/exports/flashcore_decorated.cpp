// The slot forms of flashcore's exports as host programs built with the Windows compiler declare them.
// Compiled for i686-pc-windows-msvc to obtain the decorated names the DLL must export.
int Initialize_DriverInterface(int slot, int waitMs, bool skipProtectCheck);
bool UnInitialize_DriverInterface(int slot);
bool GetBypassLength(int slot, unsigned long& length);
bool IsNewSensorTable(int slot);
bool ProcWriteToASIC(int slot, unsigned short reg, unsigned char value);
bool ProcReadFromASIC(int slot, unsigned short reg, unsigned char* value);
bool ReqToDriver(int slot, unsigned char command, unsigned int address, unsigned char* buffer,
                 unsigned long length);
bool ReqToDriver2(int slot, unsigned char command, unsigned int address, unsigned char* buffer,
                  unsigned long length);
bool GetMemType(int slot, unsigned char* type);
bool GetSectorTableAddr(int slot, unsigned short* address);
bool SetWriteDuplication(int slot, unsigned char a, unsigned short b);
int ResetDevice(int slot);
bool PullCpuRate(int slot, bool raise);
bool GetRomVersion(int slot, char* signature);
bool GetCodeVersion(int slot, unsigned char* text);
bool SF_WaitReady(int slot);
bool SF_CMDread_Status(int slot);
bool GetSFStatus(int slot, unsigned char* status);
bool GetSFSize(int slot, unsigned long* size, unsigned long* sectorSize);
bool EraseSF(int slot, unsigned long* protectedOut);
bool SectorEraseSF(int slot, unsigned char sector, unsigned long* protectedOut);
int GetFlashType(int slot);
bool SetFlashType(int slot, int type);
bool SetWriteProtect(int slot, bool protect, unsigned short& gpioRegister, unsigned char& wpConfig,
                     unsigned long* protectedOut);

// Referencing each declaration makes the compiler emit its decorated name.
void* kReferences[] = {
    reinterpret_cast<void*>(
        static_cast<bool (*)(int, bool, unsigned short&, unsigned char&, unsigned long*)>(&SetWriteProtect)),
    reinterpret_cast<void*>(static_cast<int (*)(int, int, bool)>(&Initialize_DriverInterface)),
    reinterpret_cast<void*>(static_cast<bool (*)(int)>(&UnInitialize_DriverInterface)),
    reinterpret_cast<void*>(static_cast<bool (*)(int, unsigned long&)>(&GetBypassLength)),
    reinterpret_cast<void*>(static_cast<bool (*)(int)>(&IsNewSensorTable)),
    reinterpret_cast<void*>(static_cast<bool (*)(int, unsigned short, unsigned char)>(&ProcWriteToASIC)),
    reinterpret_cast<void*>(static_cast<bool (*)(int, unsigned short, unsigned char*)>(&ProcReadFromASIC)),
    reinterpret_cast<void*>(
        static_cast<bool (*)(int, unsigned char, unsigned int, unsigned char*, unsigned long)>(&ReqToDriver)),
    reinterpret_cast<void*>(
        static_cast<bool (*)(int, unsigned char, unsigned int, unsigned char*, unsigned long)>(
            &ReqToDriver2)),
    reinterpret_cast<void*>(static_cast<bool (*)(int, unsigned char*)>(&GetMemType)),
    reinterpret_cast<void*>(static_cast<bool (*)(int, unsigned short*)>(&GetSectorTableAddr)),
    reinterpret_cast<void*>(static_cast<bool (*)(int, unsigned char, unsigned short)>(&SetWriteDuplication)),
    reinterpret_cast<void*>(static_cast<int (*)(int)>(&ResetDevice)),
    reinterpret_cast<void*>(static_cast<bool (*)(int, bool)>(&PullCpuRate)),
    reinterpret_cast<void*>(static_cast<bool (*)(int, char*)>(&GetRomVersion)),
    reinterpret_cast<void*>(static_cast<bool (*)(int, unsigned char*)>(&GetCodeVersion)),
    reinterpret_cast<void*>(static_cast<bool (*)(int)>(&SF_WaitReady)),
    reinterpret_cast<void*>(static_cast<bool (*)(int)>(&SF_CMDread_Status)),
    reinterpret_cast<void*>(static_cast<bool (*)(int, unsigned char*)>(&GetSFStatus)),
    reinterpret_cast<void*>(static_cast<bool (*)(int, unsigned long*, unsigned long*)>(&GetSFSize)),
    reinterpret_cast<void*>(static_cast<bool (*)(int, unsigned long*)>(&EraseSF)),
    reinterpret_cast<void*>(static_cast<bool (*)(int, unsigned char, unsigned long*)>(&SectorEraseSF)),
    reinterpret_cast<void*>(static_cast<int (*)(int)>(&GetFlashType)),
    reinterpret_cast<void*>(static_cast<bool (*)(int, int)>(&SetFlashType)),
};
