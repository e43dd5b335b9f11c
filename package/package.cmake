# The client packages, Quorlynx-<version>-x64.msi (the launcher and both
# control widths) and Quorlynx-<version>-x86.msi (32-bit Windows only), built
# by the x64 tree's "package" target into <tree>/package/ (`make package` does
# that), with the programs' debug information in <tree>/package/debug/. The
# 32-bit programs come from the x86 tree beside this one; the test packages
# of other versions (the package test's upgrades and downgrade) go to
# <tree>/package/test/. make_package.sh says how a certificate is given.
include(ExternalProject)

set(QZ_PACKAGE_VERSION ${PROJECT_VERSION} CACHE STRING "the client package's version (major.minor.build)")
set(QZ_PACKAGE_OLD_VERSION 1.0.0 CACHE STRING "the older version the package test upgrades from")
set(QZ_PACKAGE_NEXT_VERSION 1.0.2 CACHE STRING "the newer version the package test upgrades to")
# The test's chain is older, current, newer, and a version's text keeps its
# length (the test packages' programs are stamped in place).
if(NOT QZ_PACKAGE_OLD_VERSION VERSION_LESS QZ_PACKAGE_VERSION OR
   NOT QZ_PACKAGE_VERSION VERSION_LESS QZ_PACKAGE_NEXT_VERSION)
  message(FATAL_ERROR "QZ_PACKAGE_OLD_VERSION < QZ_PACKAGE_VERSION < QZ_PACKAGE_NEXT_VERSION does not hold: set the test versions")
endif()
set(QZ_X86_BUILD ${CMAKE_BINARY_DIR}/../x86 CACHE PATH "the x86 build tree whose programs the packages hold")
set(QZ_PACKAGE_DIR ${CMAKE_BINARY_DIR}/package)

find_program(QZ_WIXL wixl)
find_program(QZ_MSIBUILD msibuild)
find_program(QZ_MSIINFO msiinfo)
if(NOT QZ_WIXL OR NOT QZ_MSIBUILD OR NOT QZ_MSIINFO)
  message(STATUS "no client packages: wixl and msitools are missing (tools/deps.sh installs them)")
  return()
endif()

# The class the rows register, from the control's interface definition.
file(READ ${CMAKE_SOURCE_DIR}/control/tessacom1.idl qz_idl)
string(REGEX MATCH "uuid\\(([0-9A-Fa-f-]+)\\)[^\\[]*\\][ \t\r\n]*coclass Tessacontrol1" qz_match "${qz_idl}")
if(NOT CMAKE_MATCH_1)
  message(FATAL_ERROR "the control's class identifier is not found in control/tessacom1.idl")
endif()
string(TOUPPER "{${CMAKE_MATCH_1}}" QZ_CONTROL_CLSID)

set(qz_rows_dir ${CMAKE_BINARY_DIR}/qzpackrows)
set(QZ_PACKROWS ${qz_rows_dir}/qzpackrows)
ExternalProject_Add(qz_packrows_host
  SOURCE_DIR ${CMAKE_SOURCE_DIR}/package
  BINARY_DIR ${qz_rows_dir}
  CMAKE_ARGS -DCMAKE_BUILD_TYPE=RelWithDebInfo
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS ${QZ_PACKROWS})

set(qz_x86_bin ${QZ_X86_BUILD}/bin)
set(qz_make ${CMAKE_SOURCE_DIR}/package/make_package.sh)
set(qz_programs $<TARGET_FILE:Quorlynx> $<TARGET_FILE:Tessacom1> $<TARGET_FILE:QuorlynxService>
  ${qz_x86_bin}/Quorlynx.exe ${qz_x86_bin}/Tessacom1.dll ${qz_x86_bin}/QuorlynxService.exe)
set(qz_work ${CMAKE_BINARY_DIR}/package-work)
set(qz_certs ${CMAKE_BINARY_DIR}/testcerts)
# Without a certificate in QZ_SIGN_CERT the test certificate signs.
set(qz_make_env ${CMAKE_COMMAND} -E env QZ_TEST_CERTS=${qz_certs} ${qz_make} ${QZ_PACKROWS} ${CMAKE_SOURCE_DIR} ${qz_work})
add_custom_target(package
  COMMAND ${CMAKE_COMMAND} --build ${QZ_X86_BUILD} --target Quorlynx Tessacom1 QuorlynxService
  COMMAND ${QZ_TOOLS}/testcerts.sh ${qz_certs}
  COMMAND ${qz_make_env} ${QZ_PACKAGE_VERSION} x64
          ${QZ_PACKAGE_DIR}/Quorlynx-${QZ_PACKAGE_VERSION}-x64.msi ${QZ_CONTROL_CLSID} ${qz_programs}
  COMMAND ${qz_make_env} ${QZ_PACKAGE_VERSION} x86
          ${QZ_PACKAGE_DIR}/Quorlynx-${QZ_PACKAGE_VERSION}-x86.msi ${QZ_CONTROL_CLSID} ${qz_programs}
  COMMAND ${qz_make_env} ${QZ_PACKAGE_OLD_VERSION} x64
          ${QZ_PACKAGE_DIR}/test/Quorlynx-${QZ_PACKAGE_OLD_VERSION}-x64.msi ${QZ_CONTROL_CLSID} ${qz_programs}
  COMMAND ${qz_make_env} ${QZ_PACKAGE_NEXT_VERSION} x64
          ${QZ_PACKAGE_DIR}/test/Quorlynx-${QZ_PACKAGE_NEXT_VERSION}-x64.msi ${QZ_CONTROL_CLSID} ${qz_programs}
  DEPENDS qz_packrows_host Quorlynx Tessacom1 QuorlynxService
  COMMENT "Building the client packages"
  VERBATIM)

set(qz_x64_msi ${QZ_PACKAGE_DIR}/Quorlynx-${QZ_PACKAGE_VERSION}-x64.msi)
set(qz_x86_msi ${QZ_PACKAGE_DIR}/Quorlynx-${QZ_PACKAGE_VERSION}-x86.msi)
# The built packages' tables against their sources (registration tables,
# machine settings, the programs' versions, the order of an upgrade, the
# widths kept apart), and the check itself against a package that differs
# (`make test` builds the packages first).
add_test(NAME package.Tables
  COMMAND ${CMAKE_SOURCE_DIR}/package/check_tables.sh ${QZ_PACKROWS} ${CMAKE_SOURCE_DIR}
          ${qz_x64_msi} ${QZ_CONTROL_CLSID} --self-test --other ${qz_x86_msi})
# Every shipped file and both packages carry a signature that verifies
# against the test root, and a changed byte breaks it.
add_test(NAME package.Signatures
  COMMAND ${CMAKE_SOURCE_DIR}/package/check_signatures.sh ${qz_certs}/ca.pem ${qz_x64_msi} ${qz_x86_msi})
# The Group Policy templates have a policy for every machine setting.
add_test(NAME package.PolicyTemplates
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/package/check_policy.py ${QZ_PACKROWS}
          ${CMAKE_SOURCE_DIR}/package/policy --self-test)
set_tests_properties(package.Tables package.Signatures package.PolicyTemplates PROPERTIES LABELS package)
