# Copies the test catalogue beside the image.
if(EXISTS "${SOURCE}")
  file(COPY_FILE "${SOURCE}" "${DEST}" ONLY_IF_DIFFERENT)
else()
  message(WARNING "${SOURCE} is missing: Iovet.efi will report that it cannot load its catalogue")
endif()
