#pragma once

// Error numbers shared by the control protocol (reply byte 0 and error
// frames), the file helpers and the application. The values go to the host
// unchanged, so they are fixed; 14, 16-18 and 27-34 are unassigned.
enum eErrCode {
    NoErr = 0,
    CMDErr = 1,
    BagLengthErr = 2,
    RangeErr = 3,
    MatrixInputCmdErr = 4,
    LoseBagError = 5,
    CRCErr = 6,
    BagLenError = 7,
    SwitchToISPModeErr = 8,
    IsNotPcCtrlState = 9,
    DevTypeErr = 10,
    AddrError = 11,
    DevInitERR = 12,
    FpgaRefuseUpgrade = 13,
    FpgaInitErr = 15,
    FileCreatFail = 19,
    FileOpenFail = 20,
    FileReadFail = 21,
    FileWriteFail = 22,
    RtmpUrlSetupFail = 23,
    RtmpConnectFail = 24,
    RtmpConnectStreamFail = 25,
    RtmpWriteNFail = 26,
    RecDiskLoss = 35,
    RecFileCreatFail = 36,
    FILE_VER_IS_OLD = 9996,
    CheckFileEmptyErr = 9997,
    CheckFileFormatErr = 9998,
    SendTimeOut = 9999,
};
