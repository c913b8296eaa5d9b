// What the updater tells the user, in UTF-8 as every text of the programs. The
// wording is the program's own, slips of the pen included: users and support
// staff know these texts.
#pragma once

#include "update_texts.h"

namespace marlix::updater {

inline constexpr char kTextAsking[] = "우편번호 프로그램을 업데이트 하시겠습니까?";

inline constexpr char kTextSearching[] = "실행 중인 우편번호검색 프로그램을 조사합니다.";
inline constexpr char kTextStopping[] = "실행 중인 우편번호검색 프로그램을 종료 합니다.";
inline constexpr char kTextCannotStop[] = "우편번호검색 프로그램을 종료 할 수 없습니다.";
inline constexpr char kTextCannotReadExit[] = "우편번호검색 프로그램의 종료 여부를 확인 할 수 었습니다.";
inline constexpr char kTextStopped[] = "우편번호검색 프로그램이 종료 되었습니다.";
inline constexpr char kTextNotYetStopped[] = "우편번호검색 프로그램이 아직 종료되지 않았습니다.";
inline constexpr char kTextCannotListProcesses[] = "우편번호검색 프로그램의 실행여부를 확인할 수 없습니다.";
inline constexpr char kTextStopItYourself[] = "우편번호검색 프로그램이 실행 중이면, 종료 시키십시오.";

inline constexpr char kTextDownloadStarting[] = "우편번호검색 프로그램을 다운로드 합니다.";
inline constexpr char kTextDownloading[] = "우편번호검색 프로그램을 다운로드 중 입니다.";
inline constexpr char kTextDownloaded[] = "다운로드가 완료 되었습니다.";
using marlix::kTextNetworkFailure;
inline constexpr char kTextCannotDownload[] = "우편번호검색 프로그램이 다운로드 할 수 없습니다.";
// A local file that cannot be written, with its path and the system's reason.
using marlix::kTextCannotSaveFormat;
// Why a program that arrived is not installed: a line of its own after
// kTextCannotDownload in one notice.
inline constexpr char kTextUnsignedProgram[] = "서버에 프로그램의 서명(Marlix.exe.sig)이 없습니다.";
inline constexpr char kTextBadSignatureProgram[] =
    "프로그램의 서명이 올바르지 않습니다. 배포자가 서명한 프로그램이 아닙니다.";
inline constexpr char kTextProgramTooLargeFormat[] = "프로그램 파일이 %s MB보다 큽니다.";
inline constexpr char kTextNotNewerFormat[] =
    "서버의 프로그램(버전 %s)이 설치된 프로그램(버전 %s)보다 새 버전이 아닙니다.";
inline constexpr char kTextUnknownVersion[] = "알 수 없음";
inline constexpr char kTextNotListedProgram[] = "서버의 프로그램이 배포 목록(manifest.txt)에 적힌 프로그램이 아닙니다.";

inline constexpr char kTextDownloadFinished[] = "다운로드를 완료 하였습니다.";
inline constexpr char kTextFinishing[] = "마무리 작업 중 입니다. 잠시만 기다려 주십시오.";
inline constexpr char kTextCannotMoveAside[] = "Marlix.exe 파일이름을 Marlix_old.exe로 변경하지 못 했습니다.";
inline constexpr char kTextCannotPlaceNew[] = "Marlix_new.exe 파일이를을 Marlix.exe로 변경하지 못 했습니다.";
inline constexpr char kTextCannotMoveBack[] = "Marlix_old.exe 파일이름을 Marlix.exe로 변경하지 못 했습니다.";
inline constexpr char kTextCannotRemoveOld[] = "Marlix_old.exe 파일을 삭제하지 못 했습니다.";

inline constexpr char kTextLaunching[] = "우편번호검색 프로그램을 실행 중 입니다. ";
inline constexpr char kTextUpdated[] = "우편번호검색 프로그램을 업데이트 하였습니다. ";
inline constexpr char kTextCannotLaunch[] = "우편번호검색 프로그램을 실행할 수 없습니다.";
inline constexpr char kTextCheckProgramThere[] = " 프로그램이 있는지 확인하십시오";
inline constexpr char kTextUpdateEnds[] = "우편번호검색 프로그램 업데이트를 마칩니다.";

}  // namespace marlix::updater
