# The Windows Installer package, made by `cpack -G External` from the files CPack has
# staged for it (Packaging.cmake): wixl-heat lists them as components of the install
# folder, and wixl builds the MSI from packaging/vestibar.wxs and that list. wixl
# fails on texts outside ASCII, so the values passed to it are kept ASCII.
set(stage ${CPACK_TEMPORARY_DIRECTORY})
set(work ${CPACK_TOPLEVEL_DIRECTORY})
set(msi ${work}/${CPACK_PACKAGE_FILE_NAME}.msi)

file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${stage} ${stage}/*)
list(SORT files)
list(TRANSFORM files PREPEND "./")
string(JOIN "\n" file_list ${files})
file(WRITE ${work}/msi-files.txt "${file_list}\n")
execute_process(COMMAND ${CPACK_V38_WIXL_HEAT} --prefix ./ --directory-ref INSTALLDIR
                        --component-group ProgramFiles --var var.SourceDir --win64
                INPUT_FILE ${work}/msi-files.txt OUTPUT_FILE ${work}/msi-files.wxs
                COMMAND_ERROR_IS_FATAL ANY)
# wixl finds the files to pack only by paths relative to where it runs.
file(RELATIVE_PATH source_dir ${work} ${stage})
file(RELATIVE_PATH icon ${work} ${CPACK_V38_ICON})
file(REMOVE ${msi})
execute_process(COMMAND ${CPACK_V38_WIXL} --arch x64 -o ${msi}
                        -D SourceDir=${source_dir} -D Win64=yes
                        -D Version=${CPACK_PACKAGE_VERSION}
                        -D Manufacturer=${CPACK_PACKAGE_VENDOR}
                        -D Description=${CPACK_PACKAGE_DESCRIPTION_SUMMARY}
                        -D Homepage=${CPACK_V38_HOMEPAGE}
                        -D Icon=${icon}
                        ${CPACK_V38_WXS} ${work}/msi-files.wxs
                WORKING_DIRECTORY ${work} COMMAND_ERROR_IS_FATAL ANY)
set(CPACK_EXTERNAL_BUILT_PACKAGES ${msi})
