#!/usr/bin/env python3
"""Writes lang/English.lng and lang/Русский.lng (UTF-8 with BOM, CR LF) from the tables below."""
import pathlib

TEXTS = [
    # key, English, Russian
    ("GroupBox1", "Patch description", "Описание патча"),
    ("GroupBox2", "Installation", "Установка"),
    ("BTNInstallPatch", "Install", "Установить"),
    ("Cancel", "Cancel", "Отмена"),
    ("BTNCancel", "Cancel", "Отмена"),
    ("BTNMusicChange", "Change music", "Сменить музыку"),
    ("DescriptionDefault",
     "Choose the decrypted source image, then the output file, then a patch.\n\n"
     "The entry \"None\" changes only the voices and the music.",
     "Выберите расшифрованный исходный образ, затем выходной файл, затем патч.\n\n"
     "Пункт «Нет» меняет только голоса и музыку."),
    ("Label0", "Interface language:", "Язык интерфейса:"),
    ("Label1", "1. Decrypted source image:", "1. Расшифрованный исходный образ:"),
    ("Label2", "2. Output image:", "2. Выходной образ:"),
    ("Label3", "3. Patch:", "3. Патч:"),
    ("RadioGroup2", "Character voices", "Голоса персонажей"),
    ("RadioGroup2BTN1", "English", "Английские"),
    ("RadioGroup2BTN2", "Japanese (gaps filled from other games)",
     "Японские (частично из других игр)"),
    ("RadioGroup2BTN3", "Japanese (as released)", "Японские (оригинальные)"),
    ("Form2Caption", "Change music", "Смена музыки"),
    ("Save", "Save", "Сохранить"),
    ("CBShowSame", "Offer only tracks of the same type", "Предлагать только треки того же типа"),
    ("CBApplyDirectly", "Write the music straight into the source image",
     "Записать музыку прямо в исходный образ"),
    ("CBApplyDirectlyHint",
     "The music assignment is written into the source image itself when you save. "
     "Keep a copy of the image.",
     "При сохранении назначение музыки записывается прямо в исходный образ. "
     "Сохраните копию образа."),
    ("MainMenu", "Game selection menu:", "Меню выбора игры:"),
    ("Missing3dstool", "The tool tools/3dstool is missing. Reinstall the program.",
     "Не найдена программа tools/3dstool. Переустановите программу."),
    ("Missingctrtool", "The tool tools/ctrtool is missing. Reinstall the program.",
     "Не найдена программа tools/ctrtool. Переустановите программу."),
    ("Missingmakerom", "The tool tools/makerom is missing. Reinstall the program.",
     "Не найдена программа tools/makerom. Переустановите программу."),
    ("MessageDiskFreeSpace", "Free space on the program's disk:",
     "Свободное место на диске программы:"),
    ("CurrentDrive", "Disk: ", "Диск: "),
    ("FreeSpace", "Free space: ", "Свободно: "),
    ("ErrorLoadingROM", "The image file cannot be opened.", "Не удалось открыть файл образа."),
    ("ErrorNOTCIAROM", "This file is not a CIA image.", "Этот файл не является образом CIA."),
    ("ErrorNOT3DSROM", "This file is not a 3DS card image.",
     "Этот файл не является образом картриджа 3DS."),
    ("ErrorNOTCXIROM", "This file is not a CXI image.", "Этот файл не является образом CXI."),
    ("ErrorWrongROM",
     "This image is not the game this patch is made for, or its region is not supported.",
     "Этот образ не той игры, для которой сделан патч, или его регион не поддерживается."),
    ("LogEncrypted", "The image is encrypted. Decrypt it first, then choose it again.",
     "Образ зашифрован. Сначала расшифруйте его, затем выберите снова."),
    ("LogEncryptedWillDecrypt",
     "The image is encrypted; your keys fit it, so the installation decrypts it first.",
     "Образ зашифрован; ваши ключи к нему подходят, поэтому установка сначала расшифрует его."),
    ("LogEncryptedNoKeys",
     "To use it, put aes_keys.txt (and seeddb.bin for newer titles) from your own console into "
     "the folder keys beside the program, then choose the image again.",
     "Чтобы использовать его, положите aes_keys.txt (и seeddb.bin для новых игр) со своей "
     "консоли в папку keys рядом с программой, затем выберите образ снова."),
    ("LogEncryptedKeyProblem", "The keys found cannot decrypt it:",
     "Найденные ключи не могут его расшифровать:"),
    ("LogEncryptedGodMode9",
     "Or decrypt the image on the console with GodMode9: open the file, choose "
     "\"NCSD/NCCH/CIA image options...\", then \"Decrypt file\" (or \"Build CIA from file\").",
     "Или расшифруйте образ на консоли с GodMode9: откройте файл, выберите "
     "«NCSD/NCCH/CIA image options...», затем «Decrypt file» (или «Build CIA from file»)."),
    ("DecryptingSource", "Decrypting the source image...", "Расшифровка исходного образа..."),
    ("ErrorDecryptingSource", "Error while decrypting the source image:",
     "Ошибка при расшифровке исходного образа:"),
    ("LoadDescError", "The patch description cannot be read.",
     "Не удалось прочитать описание патча."),
    ("Console", "Console", "Консоль"),
    ("Emulator", "Emulator", "Эмулятор"),
    ("CardImage", "Card image", "Образ картриджа"),
    ("EmulatorCompressed", "Emulator, compressed", "Эмулятор, сжатый"),
    ("None", "None (voices and music only)", "Нет (только голоса и музыка)"),
    ("StartPatching", "Installation started.", "Установка началась."),
    ("CancelInstall", "Cancelling: the installation stops after the current step.",
     "Отмена: установка остановится после текущего шага."),
    ("ErrorFolderDelete", "Error: the temporary folder cannot be deleted.",
     "Ошибка: не удалось удалить временную папку."),
    ("ErrorFolderCreate", "Error: a folder cannot be created.",
     "Ошибка: не удалось создать папку."),
    ("ExtractingNCCH", "Extracting the game's NCCH partition...",
     "Извлечение раздела NCCH игры..."),
    ("ErrorExtractingNCCH", "Error while extracting the NCCH partition.",
     "Ошибка при извлечении раздела NCCH."),
    ("Done", "Done.", "Готово."),
    ("UnkctrtoolError", "ctrtool ended with an unexpected error; continuing.",
     "ctrtool завершился с неожиданной ошибкой; продолжаем."),
    ("ExtractingExeFS", "Extracting ExeFS...", "Извлечение ExeFS..."),
    ("ErrorExtractingExeFs", "Error while extracting ExeFS.", "Ошибка при извлечении ExeFS."),
    ("ExtractingRomFS", "Extracting RomFS...", "Извлечение RomFS..."),
    ("ErrorExtractingRomFS", "Error while extracting RomFS.", "Ошибка при извлечении RomFS."),
    ("UnpackingRomFS", "Unpacking RomFS...", "Распаковка RomFS..."),
    ("ErrorUnpackingRomFS", "Error while unpacking RomFS.", "Ошибка при распаковке RomFS."),
    ("InstallCanceled", "The installation was cancelled.", "Установка отменена."),
    ("ExtractingCXIHeaders", "Extracting the CXI headers...", "Извлечение заголовков CXI..."),
    ("ErrorExtractingCXIHeaders", "Error while extracting the CXI headers.",
     "Ошибка при извлечении заголовков CXI."),
    ("Unk3dstoolError", "3dstool ended with an unexpected error; continuing.",
     "3dstool завершился с неожиданной ошибкой; продолжаем."),
    ("ExtractingExeFSHeaders", "Extracting the ExeFS header...",
     "Извлечение заголовка ExeFS..."),
    ("ErrorExtractingExeFSHeaders", "Error while extracting the ExeFS header.",
     "Ошибка при извлечении заголовка ExeFS."),
    ("ErrorDeleteTempFile", "Error: a temporary file cannot be deleted.",
     "Ошибка: не удалось удалить временный файл."),
    ("CheckingMD5PackDat", "Checking the MD5 digest of pack.dat...",
     "Проверка контрольной суммы MD5 файла pack.dat..."),
    ("ErrorCheckingMD5PackDat",
     "Error: the MD5 digest of pack.dat cannot be computed (the file is missing or unreadable).",
     "Ошибка: не удалось вычислить контрольную сумму MD5 файла pack.dat "
     "(файл отсутствует или не читается)."),
    ("MD5Matched", "The digest matches.", "Контрольная сумма совпадает."),
    ("MD5NotMatched", "The digest does not match: this image does not fit the patch.",
     "Контрольная сумма не совпадает: образ не подходит для этого патча."),
    ("CheckingMD5PackInc", "Checking the MD5 digest of pack.inc...",
     "Проверка контрольной суммы MD5 файла pack.inc..."),
    ("ErrorCheckingMD5PackInc",
     "Error: the MD5 digest of pack.inc cannot be computed (the file is missing or unreadable).",
     "Ошибка: не удалось вычислить контрольную сумму MD5 файла pack.inc "
     "(файл отсутствует или не читается)."),
    ("ErrorMovingPackDat", "Error: pack.dat cannot be moved aside.",
     "Ошибка: не удалось переместить pack.dat."),
    ("ApplyingXdelta", "Applying the patch to pack.dat...", "Применение патча к pack.dat..."),
    ("ErrorApplyingXdelta", "Error while applying the patch to pack.dat.",
     "Ошибка при применении патча к pack.dat."),
    ("UnkXdeltaError", "xdelta ended with an unexpected error; continuing.",
     "xdelta завершился с неожиданной ошибкой; продолжаем."),
    ("ErrorCopyingExeFsFolder", "Error while copying the patch's exefs folder.",
     "Ошибка при копировании папки exefs патча."),
    ("ErrorCopyingRomFsFolder", "Error while copying the patch's romfs folder.",
     "Ошибка при копировании папки romfs патча."),
    ("WarningApplyingVoice",
     "Warning: the voices and music could not be changed; the rest of the patch is installed.",
     "Внимание: не удалось изменить голоса и музыку; остальная часть патча установлена."),
    ("RebuildingExeFS", "Rebuilding ExeFS...", "Сборка ExeFS..."),
    ("ErrorRebuildingExeFS", "Error while rebuilding ExeFS.", "Ошибка при сборке ExeFS."),
    ("RebuildingRomFS", "Rebuilding RomFS...", "Сборка RomFS..."),
    ("ErrorRebuildingRomFS", "Error while rebuilding RomFS.", "Ошибка при сборке RomFS."),
    ("RebuildingCXI", "Rebuilding the CXI image...", "Сборка образа CXI..."),
    ("ErrorRebuildingCXI", "Error while rebuilding the CXI image.",
     "Ошибка при сборке образа CXI."),
    ("RebuildingCIA", "Building the CIA image...", "Сборка образа CIA..."),
    ("ErrorRebuildingCIA", "Error while building the CIA image.",
     "Ошибка при сборке образа CIA."),
    ("UnkMakeromError", "makerom ended with an unexpected error; continuing.",
     "makerom завершился с неожиданной ошибкой; продолжаем."),
    ("Rebuilding3DS", "Building the 3DS image...", "Сборка образа 3DS..."),
    ("ErrorRebuilding3DS", "Error while building the 3DS image.",
     "Ошибка при сборке образа 3DS."),
    ("CompressingOutput", "Compressing the output image...", "Сжатие выходного образа..."),
    ("ErrorCompressingOutput", "Error while compressing the output image:",
     "Ошибка при сжатии выходного образа:"),
    ("PatchingSuccessful", "The patch was installed. The new image:",
     "Патч установлен. Новый образ:"),
    ("ApplyingVoice", "Replacing the character voices...", "Замена голосов персонажей..."),
    ("WarningLoadingBcsar", "Warning: the sound archive cannot be read.",
     "Внимание: не удалось прочитать звуковой архив."),
    ("WarningCopyingSoundFiles", "Warning: the voice files cannot be copied.",
     "Внимание: не удалось скопировать файлы голосов."),
    ("ChangingMusic", "Changing the music...", "Смена музыки..."),
    ("WarningUnknownTrack", "Warning: this track is not in the track list:",
     "Внимание: этого трека нет в списке треков:"),
    ("WarningPackingBcsar", "Warning: the sound archive cannot be packed again.",
     "Внимание: не удалось снова упаковать звуковой архив."),
    ("ErrorTrackListFormat", "The track list file is malformed; the music cannot be changed.",
     "Файл списка треков повреждён; сменить музыку нельзя."),
    ("ErrorReadingTracks",
     "The music assignment cannot be read from the image; the music cannot be changed.",
     "Не удалось прочитать назначение музыки из образа; сменить музыку нельзя."),
    ("ErrorOutputIsSource",
     "The output file is the source image itself. Choose another output file: "
     "the source image must not be overwritten.",
     "Выходной файл совпадает с исходным образом. Выберите другой выходной файл: "
     "исходный образ нельзя перезаписывать."),
    ("VerifyingOutput", "Verifying the output image...", "Проверка выходного образа..."),
    ("ErrorVerifyingOutput", "The output image failed verification:",
     "Выходной образ не прошёл проверку:"),
    # A tool of the program folder that cannot be started ends the run.
    ("ErrorToolCannotStart",
     "Error: the installation stops because this tool cannot be started:",
     "Ошибка: установка остановлена, так как не удаётся запустить программу:"),
    ("WarningDiskSpace", "Warning: the free disk space may not be enough for this run.",
     "Внимание: свободного места на диске может не хватить для установки."),
    # Mod folder output (files for Luma3DS game patching and the emulator's mods folder)
    ("ModFolder", "Mod folder (Luma3DS, emulator)", "Папка модов (Luma3DS, эмулятор)"),
    ("ExtractingModFiles", "Reading the files the patch needs from the source image...",
     "Чтение нужных патчу файлов из исходного образа..."),
    ("WritingModFolder", "Writing the changed files into the mod folder...",
     "Запись изменённых файлов в папку модов..."),
    ("VerifyingModFolder", "Verifying the mod folder...", "Проверка папки модов..."),
    ("ErrorWritingModFolder", "The mod folder could not be written:",
     "Не удалось записать папку модов:"),
    ("ErrorVerifyingModFolder", "The mod folder failed verification:",
     "Папка модов не прошла проверку:"),
    ("WarningModNewFiles",
     "Warning: these files are not in the game's RomFS. Emulators load them, consoles do not:",
     "Внимание: этих файлов нет в RomFS игры. Эмуляторы их загружают, консоли нет:"),
    ("ModBannerIcon",
     "The banner and the icon (exefs/banner.bnr, exefs/icon.bin) are loaded by emulators only; "
     "consoles ignore them.",
     "Баннер и значок (exefs/banner.bnr, exefs/icon.bin) загружают только эмуляторы; "
     "консоли их не используют."),
    ("ModPreviousRenamed", "The earlier mod folder of this game was kept as:",
     "Прежняя папка модов этой игры сохранена как:"),
    ("ModFolderSuccessful",
     "The patch was written as a mod folder. Copy the folder to /luma/titles/ on the SD card "
     "for Luma3DS (turn on \"Enable game patching\"), or to load/mods/ in the emulator's user "
     "folder. The folder:",
     "Патч записан как папка модов. Скопируйте папку в /luma/titles/ на SD-карте для Luma3DS "
     "(включите «Enable game patching») или в load/mods/ в папке пользователя эмулятора. "
     "Папка:"),
    ("ModSdCardReminder",
     "On the console, turn on \"Enable game patching\" in the Luma3DS configuration (hold "
     "SELECT while switching the console on).",
     "На консоли включите «Enable game patching» в настройках Luma3DS (удерживайте SELECT при "
     "включении консоли)."),
    ("ModDestinationEmulator", "The mod folder goes to the emulator's mods folder:",
     "Папка модов будет записана в папку модов эмулятора:"),
    ("ModDestinationSdCard", "The mod folder goes to the SD card:",
     "Папка модов будет записана на SD-карту:"),
    ("ModDestinationFolder", "The mod folder goes to the folder:",
     "Папка модов будет записана в папку:"),
    ("NoModPlaces", "No emulator mods folder and no SD card were found.",
     "Не найдены ни папка модов эмулятора, ни SD-карта."),
    # The command line: the end of the progress line on a terminal
    ("CliTotalTime", "Total time:", "Общее время:"),
]


def entry(key: str, text: str) -> str:
    simple = text and all(c > " " and c not in '="' for c in text)
    if simple:
        return f"{key}={text}"
    return key + '="' + text.replace('"', '""').replace("\n", "\r\n") + '"'


def check(rows, column) -> None:
    """Every key must find its own entry: a text equal to a key may only follow that key."""
    tokens = []
    for row in rows:
        tokens += [row[0], row[column]]
    for index, row in enumerate(rows):
        first = next(i for i, t in enumerate(tokens) if t.lower() == row[0].lower())
        if first != 2 * index:
            raise SystemExit(f"{row[0]}: an earlier text equals the key")


def main() -> None:
    root = pathlib.Path(__file__).resolve().parent.parent / "lang"
    for column, name in ((1, "English"), (2, "Русский")):
        check(TEXTS, column)
        lines = [entry(row[0], row[column]) for row in TEXTS]
        data = "\ufeff" + "\r\n".join(lines) + "\r\n"
        (root / f"{name}.lng").write_bytes(data.encode("utf-8"))


if __name__ == "__main__":
    main()
