@echo -off
# The Iovet boot stick's start-up script: finds the stick's own volume (the
# one holding iovet-usb.txt beside Iovet.efi), runs Iovet unattended, writes
# its verbose report, its table dump and the board's SMBIOS system record into
# \iovet-results\ under the next free run number (000-999, so that runs on
# several boards never overwrite each other), says where the files went, and
# stays at the shell prompt; with a file named iovet-poweroff at the stick's
# root it powers the machine off instead. Every variable is volatile: nothing
# is written to the firmware's variable store.
set -v iovet_stick none
for %v run (0 31)
  if %iovet_stick% == none then
    if exist fs%v:\iovet-usb.txt then
      if exist fs%v:\Iovet.efi then
        set -v iovet_stick fs%v:
      endif
    endif
  endif
endfor
if %iovet_stick% == none then
  echo "Iovet stick: no volume holds iovet-usb.txt and Iovet.efi; nothing was run."
  goto end
endif
%iovet_stick%
cd \
if not exist iovet-results then
  mkdir iovet-results
endif
set -v iovet_run none
for %a run (0 9)
  for %b run (0 9)
    for %c run (0 9)
      if %iovet_run% == none then
        if not exist iovet-results\%a%b%c-report.txt then
          set -v iovet_run %a%b%c
        endif
      endif
    endfor
  endfor
endfor
if %iovet_run% == none then
  echo "Iovet stick: \iovet-results\ on %iovet_stick% holds runs 000 to 999; move them off the stick first."
  goto end
endif
set -v iovet_files %iovet_stick%\iovet-results\%iovet_run%
echo "Iovet stick %iovet_stick% run %iovet_run%: results into %iovet_stick%\iovet-results\"
echo "  Iovet.efi -v, the verbose report, into %iovet_run%-report.txt"
Iovet.efi -v > iovet-results\%iovet_run%-report.txt
echo "    status %lasterror%"
echo "  Iovet.efi -d, the table dump, into %iovet_run%-dump.txt"
Iovet.efi -d > iovet-results\%iovet_run%-dump.txt
echo "    status %lasterror%"
echo "  smbiosview -t 1, the board's system record, into %iovet_run%-system.txt"
smbiosview -t 1 > iovet-results\%iovet_run%-system.txt
if not exist iovet-results\%iovet_run%-report.txt then
  echo "Iovet stick: the report could not be written (is the stick write-protected?)"
  goto end
endif
echo "Iovet stick: done. The files are %iovet_files%-report.txt, -dump.txt and -system.txt;"
echo "  read the report on a host with tools/iovet-results."
if exist %iovet_stick%\iovet-poweroff then
  echo "Iovet stick: iovet-poweroff is on the stick: powering off."
  reset -s
endif
:end
